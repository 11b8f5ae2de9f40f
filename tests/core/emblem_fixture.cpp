#include "tests/core/emblem_fixture.h"

#include <fstream>
#include <regex>
#include <sstream>
#include <vector>

std::string host_path(const std::string& path) {
#ifdef _WIN32
    std::string windows = "Z:" + path;
    for (char& c : windows) if (c == '/') c = '\\';
    return windows;
#else
    return path;
#endif
}

Bytes le16(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
Bytes le32(uint32_t v) { return le16(v) + le16(v >> 16); }

Bytes stored_record(uint32_t width, uint32_t height, const Bytes& stream, unsigned char filler) {
    Bytes content = text_bytes("RL") + le16(0) + le16(width) + le16(height) + le32(uint32_t(stream.size())) + stream;
    Bytes stored;
    for (size_t p = 0; p < content.size(); p++) {
        stored.push_back(content[p]);
        if (p % 47 == 46) stored.push_back(filler);
    }
    return stored;
}

static std::string res_text(const char* name) {
    std::ifstream in(host_path(std::string(SOURCE_DIR) + "/res/" + name));
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

Bytes emblem_picture() {
    std::istringstream text(res_text("emblem.txt"));
    std::vector<std::string> lines;
    for (std::string line; text >> line;) lines.insert(lines.begin(), line);
    Bytes alpha;
    for (const std::string& line : lines)
        for (char c : line) alpha.push_back(uint8_t(std::stoi(std::string(1, c), nullptr, 16) * 17));
    return alpha;
}

Bytes committed_record() {
    std::string text = res_text("emblem_record.inc");
    std::regex hex("0x([0-9A-F]{2})");
    Bytes record;
    for (auto m = std::sregex_iterator(text.begin(), text.end(), hex); m != std::sregex_iterator(); ++m)
        record.push_back(uint8_t(std::stoi((*m)[1].str(), nullptr, 16)));
    return record;
}
