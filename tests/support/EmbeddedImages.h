#pragma once
// The nine firmware images of the real build as the posix layer's raw-data
// resources (a table generated at build time).
#include "platform/posix/PosixSystem.h"

extern const plat::RawResource g_embeddedResources[];
extern const unsigned g_embeddedResourceCount;

inline void InstallEmbeddedImages() { plat::posix::SetRawResources(g_embeddedResources, g_embeddedResourceCount); }
