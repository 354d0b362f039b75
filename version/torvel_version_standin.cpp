// Stand-in for the version markers, until the version module lands (it
// replaces this file, together with the version comparisons). The two
// strings are the system's fixed markers.
#include "version/torvel_version.h"

namespace {

const char kVersion[] = "$TorvelVersion: 6.8.0 Jul 19 2006 $";
const char kPlatform[] = "$TorvelPlatform: X86_64-LINUX_RHEL3 $";

}  // namespace

const char *TorvelVersion() { return kVersion; }

const char *TorvelPlatform() { return kPlatform; }
