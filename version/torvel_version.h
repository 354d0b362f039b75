// The version and platform marker strings compiled into every program. They
// can be found by scanning the program file for "$TorvelVersion: " and
// "$TorvelPlatform: ".
#ifndef TORVEL_VERSION_TORVEL_VERSION_H_
#define TORVEL_VERSION_TORVEL_VERSION_H_

// Static texts: "$TorvelVersion: <major>.<minor>.<sub> <Mon> <day> <year> $"
// and "$TorvelPlatform: <ARCH>-<OPSYS> $". Never freed.
const char *TorvelVersion();
const char *TorvelPlatform();

#endif  // TORVEL_VERSION_TORVEL_VERSION_H_
