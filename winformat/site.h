#ifndef SENTORY_WINFORMAT_SITE_H_
#define SENTORY_WINFORMAT_SITE_H_

#include <string>

namespace sentory {

// The site: one folder per monitored machine, holding that machine's event
// log files and registry. Names inside it are matched without regard to
// ASCII case.

/// The site folder: the value of SENTORY_ROOT, or /var/lib/sentory. On
/// Windows a path that begins with "/" is taken on drive Z:, where Wine
/// shows the host's files.
std::string SiteRoot();

/// The path of the entry of |folder| whose name equals |name| without regard
/// to ASCII case; "" when there is none. When |failed| is given, it tells
/// whether the folder could not be looked into (as against holding no such
/// entry): it exists but cannot be listed.
std::string FindNoCase(const std::string& folder, const std::string& name,
                       bool* failed = nullptr);

/// The folder of machine |name| in the site: leading backslashes removed,
/// matched without regard to case; null or empty means the local machine
/// (the folder named by the host name). "" when the folder does not exist.
std::string MachineFolder(const char* name);

/// |name| as a machine folder is named: leading backslashes removed, the
/// host name for a null or empty name.
std::string MachineFolderName(const char* name);

}  // namespace sentory

#endif  // SENTORY_WINFORMAT_SITE_H_
