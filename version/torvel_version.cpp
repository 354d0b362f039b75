// The version and platform marker strings compiled into every program. They
// sit in the program file as plain text, so a scan for their prefixes finds
// them (TorvelVersionInfo::get_version_from_file does that).
#include "version/torvel_version.h"

namespace {

const char kVersion[] = "$TorvelVersion: 6.8.0 Jul 19 2006 $";
const char kPlatform[] = "$TorvelPlatform: X86_64-LINUX_RHEL3 $";

}  // namespace

const char *TorvelVersion() {
    return kVersion;
}

const char *TorvelPlatform() {
    return kPlatform;
}
