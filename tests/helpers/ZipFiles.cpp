#include "helpers/ZipFiles.h"

#include "helpers/TestFiles.h"

#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

namespace testkit {

namespace {

std::string toHex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

std::string fromHex(const std::string& hex)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

// Runs a Python script with arguments; returns its standard output, throws on failure.
std::string runPython(const std::string& script, const std::vector<std::string>& args)
{
    TempDir dir;
    const std::string scriptFile = dir.file("zip.py");
    writeText(scriptFile, script);
    std::string command = "/usr/bin/python3 " + scriptFile;
    for (const std::string& arg : args)
        command += " '" + arg + "'";
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        throw std::runtime_error("cannot run python3");
    std::string out;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    const int status = ::pclose(pipe);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("python zipfile failed: " + out);
    return out;
}

const char* const ReadScript = R"(
import sys, zipfile, stat
with zipfile.ZipFile(sys.argv[1]) as z:
    bad = z.testzip()
    if bad is not None:
        print("bad entry", bad); sys.exit(1)
    for i in z.infolist():
        link = 1 if stat.S_ISLNK(i.external_attr >> 16) else 0
        print(i.filename.encode().hex(), i.compress_type, i.flag_bits, link, z.read(i).hex())
)";

const char* const WriteScript = R"(
import sys, zipfile
method = zipfile.ZIP_DEFLATED if sys.argv[3] == "1" else zipfile.ZIP_STORED
with zipfile.ZipFile(sys.argv[1], "w", method) as z, open(sys.argv[2]) as manifest:
    for line in manifest:
        name, content, link = line.split()
        info = zipfile.ZipInfo(bytes.fromhex(name).decode())
        info.compress_type = method
        if link == "1":
            info.create_system = 3
            info.external_attr = (0o120777 << 16)
        else:
            info.external_attr = (0o100644 << 16)
        z.writestr(info, b"" if content == "-" else bytes.fromhex(content))
)";

}  // namespace

std::vector<ZipEntry> readZip(const std::string& path)
{
    std::istringstream lines(runPython(ReadScript, {path}));
    std::vector<ZipEntry> entries;
    std::string name, content;
    ZipEntry entry;
    int link = 0;
    while (lines >> name >> entry.method >> entry.flagBits >> link) {
        // An empty file has no hex text: the rest of the line is empty.
        std::string rest;
        std::getline(lines, rest);
        const size_t start = rest.find_first_not_of(' ');
        entry.name = fromHex(name);
        entry.content = start == std::string::npos ? std::string() : fromHex(rest.substr(start));
        entry.symlink = link != 0;
        entries.push_back(entry);
    }
    return entries;
}

void writeZip(const std::string& path, const std::vector<ZipEntry>& entries, bool deflate)
{
    TempDir dir;
    std::string manifest;
    for (const ZipEntry& entry : entries)
        manifest += toHex(entry.name) + " " + (entry.content.empty() ? std::string("-") : toHex(entry.content)) + " "
                    + (entry.symlink ? "1" : "0") + "\n";
    writeText(dir.file("manifest"), manifest);
    runPython(WriteScript, {path, dir.file("manifest"), deflate ? "1" : "0"});
}

}  // namespace testkit
