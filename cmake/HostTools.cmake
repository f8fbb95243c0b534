# Build-time helpers always run on the build machine, also in cross builds,
# so they are compiled with the host compiler directly.
find_program(ORVEX_HOST_CXX NAMES c++ g++ REQUIRED)
set(ORVEX_TOOLS ${CMAKE_BINARY_DIR}/host-tools)
file(MAKE_DIRECTORY ${ORVEX_TOOLS})

function(orvex_host_tool name)
  set(srcs)
  foreach(s ${ARGN})
    list(APPEND srcs ${CMAKE_SOURCE_DIR}/${s})
  endforeach()
  add_custom_command(OUTPUT ${ORVEX_TOOLS}/${name}
    COMMAND ${ORVEX_HOST_CXX} -std=c++20 -O2 -I${CMAKE_SOURCE_DIR} ${srcs} -o ${ORVEX_TOOLS}/${name}
    DEPENDS ${srcs}
    COMMENT "Host tool ${name}")
  # Other folders cannot see this command's output file, only the target.
  add_custom_target(host_${name} DEPENDS ${ORVEX_TOOLS}/${name})
  set(ORVEX_TOOL_DEPS_${name} host_${name} ${srcs} CACHE INTERNAL "")
endfunction()

orvex_host_tool(genimage tools/genimage.cpp)
orvex_host_tool(szddpack tools/szddpack.cpp common/Szdd.cpp)
orvex_host_tool(bin2table tools/bin2table.cpp)
orvex_host_tool(genart tools/genart.cpp)
