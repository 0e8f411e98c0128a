#pragma once
// Zip archives read and written by an independent implementation (Python's zipfile, run with
// Debian's /usr/bin/python3), so tests of the program's archives never check libzip against
// itself, and hostile archives (climbing names, links, bad checksums) can be built at will.

#include <string>
#include <vector>

namespace testkit {

struct ZipEntry {
    std::string name;
    std::string content;
    bool symlink = false;   // a Unix symbolic link entry (content = its target)
    int method = 0;         // read back: 0 stored, 8 deflated
    int flagBits = 0;       // read back: the general purpose flags
};

// Reads every entry with its content; throws std::runtime_error when Python cannot read the
// archive or an entry's checksum is wrong.
std::vector<ZipEntry> readZip(const std::string& path);

// Writes an archive holding exactly these entries, names as given (hostile ones included),
// deflated or stored.
void writeZip(const std::string& path, const std::vector<ZipEntry>& entries, bool deflate = true);

}  // namespace testkit
