// The discovery against a real DNS-SD service: Avahi's daemon and its DNS-SD
// compatibility library (libdns_sd.so.1), bound by name by the transport as
// the native build does. Everything runs inside network, mount and host-name
// namespaces this program makes for itself: a private system D-Bus and an
// avahi-daemon that may use one end of a veth pair whose other end is in the
// same namespace, so no packet leaves it. The emulated card is published with
// avahi-publish under the maker's subtype and answers on the namespace's
// address; the remote path then identifies the converter behind it.
//
// Skips itself, saying why, where the namespaces cannot be made (not root)
// or the Avahi programs are not installed.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Platform.h"
#include "sim/OrvexUnit.h"
#include "sim/network/VelunCard.h"
#include "transport/VelunIF.h"
#include "unitcontrol/OrvexRemote.h"
#include "velun/dnssd.h"
#include "velun/net.h"

namespace {

constexpr const char* kInterface = "veth-orvex0";
constexpr const char* kPeer = "veth-orvex1";
constexpr const char* kAddress = "10.213.77.1";
constexpr const char* kHostName = "orvex-ns";
constexpr const char* kDeviceName = "VA-VOVUZ-NS";

bool Executable(const char* path) { return access(path, X_OK) == 0; }

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs a program to its end; its output goes to the log file.
int RunToEnd(const std::vector<std::string>& argv, const std::string& log) {
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Starts a program that runs until it is stopped; it goes with this process.
pid_t StartProgram(const std::vector<std::string>& argv, const std::string& log) {
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

bool WaitFor(const std::string& log, const std::string& text, int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
        if (ReadAll(log).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

class AvahiTest : public ::testing::Test {
public:
    std::string dir;
    std::vector<pid_t> children;
    std::string skip;

    void SetUp() override {
        for (const char* p : {"/usr/sbin/avahi-daemon", "/usr/bin/avahi-publish", "/usr/bin/dbus-daemon"}) {
            if (!Executable(p)) {
                skip = std::string(p) + " is not installed (Debian: avahi-daemon avahi-utils dbus)";
                return;
            }
        }
        if (Ip().empty()) {
            skip = "ip is not installed (Debian: iproute2)";
            return;
        }
        plat::LibraryHandle lib = plat::LoadLibrary("libdns_sd.so.1");
        if (!lib) {
            skip = "libdns_sd.so.1 cannot be loaded (Debian: libavahi-compat-libdnssd1)";
            return;
        }
        plat::FreeLibrary(lib);
        if (unshare(CLONE_NEWNET | CLONE_NEWNS | CLONE_NEWUTS) != 0) {
            skip = std::string("cannot create network namespaces here: ") + std::strerror(errno);
            return;
        }
        // Mounts made here stay here; /run is this namespace's own, so the
        // system bus socket and the daemon's files live only in it.
        ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0) << std::strerror(errno);
        ASSERT_EQ(mount("tmpfs", "/run", "tmpfs", 0, "mode=0755"), 0) << std::strerror(errno);
        ASSERT_EQ(sethostname(kHostName, std::strlen(kHostName)), 0);
        char tmpl[] = "/tmp/orvex-avahi-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        setenv("AVAHI_COMPAT_NOWARN", "1", 1);
    }

    void TearDown() override {
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            kill(*it, SIGTERM);
            int status = 0;
            waitpid(*it, &status, 0);
        }
        if (!dir.empty()) {
            for (const char* f : {"bus.conf", "avahi.conf", "net.log", "dbus.log", "avahi.log", "publish.log", "other.log"})
                unlink((dir + "/" + f).c_str());
            rmdir(dir.c_str());
        }
    }

    static std::string Ip() {
        for (const char* p : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"})
            if (Executable(p)) return p;
        return "";
    }

    void Network() {
        const std::string log = dir + "/net.log";
        ASSERT_EQ(RunToEnd({Ip(), "link", "set", "lo", "up"}, log), 0) << ReadAll(log);
        ASSERT_EQ(RunToEnd({Ip(), "link", "add", kInterface, "type", "veth", "peer", "name", kPeer}, log), 0) << ReadAll(log);
        ASSERT_EQ(RunToEnd({Ip(), "addr", "add", std::string(kAddress) + "/24", "dev", kInterface}, log), 0) << ReadAll(log);
        ASSERT_EQ(RunToEnd({Ip(), "link", "set", kInterface, "up"}, log), 0) << ReadAll(log);
        ASSERT_EQ(RunToEnd({Ip(), "link", "set", kPeer, "up"}, log), 0) << ReadAll(log);
    }

    void Bus() {
        mkdir("/run/dbus", 0755);
        std::ofstream(dir + "/bus.conf") << R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
)";
        const std::string log = dir + "/dbus.log";
        children.push_back(StartProgram({"/usr/bin/dbus-daemon", "--config-file=" + dir + "/bus.conf", "--nofork", "--nopidfile"}, log));
        struct stat st{};
        for (int i = 0; i < 100 && stat("/run/dbus/system_bus_socket", &st) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_EQ(stat("/run/dbus/system_bus_socket", &st), 0) << ReadAll(log);
    }

    void Daemon() {
        std::ofstream(dir + "/avahi.conf") << "[server]\nhost-name=" << kHostName
                                             << "\ndomain-name=local\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces="
                                             << kInterface
                                             << "\nenable-dbus=yes\n[wide-area]\nenable-wide-area=no\n"
                                                "[publish]\npublish-hinfo=no\npublish-workstation=no\n"
                                                "[reflector]\nenable-reflector=no\n";
        const std::string log = dir + "/avahi.log";
        children.push_back(StartProgram({"/usr/sbin/avahi-daemon", "-f", dir + "/avahi.conf", "--no-chroot", "--no-drop-root",
                                  "--no-rlimits"},
                                 log));
        ASSERT_TRUE(WaitFor(log, "Server startup complete", 20)) << ReadAll(log);
    }

    // Avahi takes only subtypes that begin with an underscore, so it cannot
    // publish (nor browse) the maker's subtype "Pelk" itself; the card is
    // published under Avahi's form of it and names its maker in "mf", beside
    // a device of another maker.
    void Publish() {
        const std::string ours = dir + "/publish.log", theirs = dir + "/other.log";
        children.push_back(StartProgram({"/usr/bin/avahi-publish", "-s", "--subtype=_Pelk._sub._velun-arc._udp",
                                         kDeviceName, "_velun-arc._udp", "5645", "arcp_vers=1.2.3",
                                         "router_vers=2.0.1", "mf=Pelk", "model=VA-VOVUZ"},
                                        ours));
        children.push_back(StartProgram({"/usr/bin/avahi-publish", "-s", "Other-Maker", "_velun-arc._udp", "5645",
                                         "arcp_vers=1.0.0", "router_vers=1.0.0", "mf=Acme"},
                                        theirs));
        ASSERT_TRUE(WaitFor(ours, "Established", 20)) << ReadAll(ours);
        ASSERT_TRUE(WaitFor(theirs, "Established", 20)) << ReadAll(theirs);
    }
};

TEST_F(AvahiTest, TheBrowseFindsResolvesAndAddressesThePublishedCardThroughAvahi) {
    if (!skip.empty()) GTEST_SKIP() << skip;
    ASSERT_NO_FATAL_FAILURE(Network());
    ASSERT_NO_FATAL_FAILURE(Bus());
    ASSERT_NO_FATAL_FAILURE(Daemon());
    ASSERT_NO_FATAL_FAILURE(Publish());

    // The emulated card behind the published service, on the namespace's address.
    sim::OrvexUnit::Config config;
    config.card.id = 21;
    sim::OrvexUnit unit(config);
    sim::VelunCard card(unit, plat::inet_addr(kAddress));
    std::string why;
    ASSERT_TRUE(card.Start(&why)) << why;
    plat::SetIdleHook([&] { card.Pump(); });

    orvex::CVelunIF::SetDnsSdApi(nullptr);
    orvex::CVelunIF::SetLibraryName(nullptr);
    ASSERT_STREQ(orvex::CVelunIF::LibraryName(), "libdns_sd.so.1");
    auto net = std::make_unique<orvex::CVelunIF>();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(net->Open(), 0) << ReadAll(dir + "/avahi.log");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("Open through Avahi: %.3f s\n", seconds);
    uint16_t count = 0;
    net->GetNumConnections(&count);
    ASSERT_EQ(count, 1);
    EXPECT_STREQ(net->DeviceName(0), kDeviceName);
    EXPECT_EQ(net->DeviceAddress(0), plat::inet_addr(kAddress)) << "the address came from the host's A record";

    // Avahi's library does not offer these two; the discovery did not need them.
    const velun::dnssd_api* api = velun::dnssd_get_api();
    ASSERT_NE(api, nullptr);
    velun::DNSServiceRef ref = nullptr;
    EXPECT_EQ(api->DNSServiceCreateConnection(&ref), velun::kDNSServiceErr_Unsupported);
    EXPECT_EQ(api->DNSServiceReconfirmRecord(0, 0, "x._velun-arc._udp.local.", velun::kDNSServiceType_PTR,
                                             velun::kDNSServiceClass_IN, 0, nullptr),
              velun::kDNSServiceErr_Unsupported);
    net->Close();
    EXPECT_EQ(velun::dnssd_get_api(), nullptr);
    EXPECT_EQ(velun::net_env_references(), 0);

    // The remote path on top: the converter behind the card, identified.
    orvex::COrvexRemote::Transports transports;
    transports.network = [] { return std::make_unique<orvex::CVelunIF>(); };
    orvex::COrvexRemote remote(transports);
    ASSERT_EQ(remote.Open(), 0u);
    char text[256];
    uint8_t id = 0;
    ASSERT_EQ(remote.GetConnectionDescription(0, text, sizeof text, &id), 0u);
    EXPECT_EQ(std::string(text), std::string("Orvex 16 connected via Velun (") + kAddress + ")");
    EXPECT_EQ(id, 38);
    remote.Close();
    plat::SetIdleHook(nullptr);
}

}  // namespace
