#ifndef SENTORY_PLATFORM_DRIVE_PATH_H_
#define SENTORY_PLATFORM_DRIVE_PATH_H_

#include <string>

namespace sentory {

/// The file of this system that stands for file name |name| as Windows
/// gives it: "X:\dir\file.dll" is the site's "drives/x/dir/file.dll", each
/// part matched without regard to case ("\" and "/" both separate parts,
/// "." and ".." are taken as Windows takes them, never above the drive); a
/// name that begins with "/" is a path of this system and stays as it is.
/// "" when no such file exists, and for any other name (relative, UNC).
/// Only systems that lack Windows' drives have it.
std::string DrivePath(const char* name);

}  // namespace sentory

#endif  // SENTORY_PLATFORM_DRIVE_PATH_H_
