#include "TextFile.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace roamnode::tools {

bool readTextFile(const std::string& path, std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream out;
    out << in.rdbuf();
    text = out.str();
    return !in.bad();
}

bool writeFileAtomically(const std::string& path, const std::string& content)
{
    const std::string part = path + ".part";
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    if (!out || std::rename(part.c_str(), path.c_str()) != 0) {
        std::remove(part.c_str());
        return false;
    }
    return true;
}

} // namespace roamnode::tools
