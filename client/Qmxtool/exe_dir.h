// Internal to the tool unit and libtessera: where the running program lives.
#ifndef QMXTOOL_EXE_DIR_H
#define QMXTOOL_EXE_DIR_H

#include <cstddef>

// Writes the directory part of the symbolic link's target (cut at its last
// '/', so "/usr/bin/prog" gives "/usr/bin" and "/prog" gives "") into dir,
// terminated. false, with dir set to "", when the link cannot be read, its
// target has no '/', is longer than PATH_MAX - 1 bytes, or does not fit
// size.
bool qmx_link_dir(const char *link, char *dir, std::size_t size);

// qmx_link_dir of "/proc/self/exe": the directory of the running
// executable (the host program, not the library).
bool qmx_exe_dir(char *dir, std::size_t size);

#endif
