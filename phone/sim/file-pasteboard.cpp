#include "file-pasteboard.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

namespace pelko::phone::sim {

namespace {

bool writeFile(const std::filesystem::path& path, const char* data, std::size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(data, static_cast<std::streamsize>(size));
    file.close();
    return !file.fail();
}

}  // namespace

std::filesystem::path FilePasteboard::fileOf(const std::string& type) const {
    std::string name = type;
    std::replace(name.begin(), name.end(), '/', '-');
    return folder_ / name;
}

bool FilePasteboard::replaceContents(const std::vector<PasteboardItem>& items) {
    std::error_code error;
    std::filesystem::create_directories(folder_, error);
    if (!std::filesystem::is_directory(folder_, error)) return false;

    // Clear what was declared before, the list first so that nothing half-written is listed.
    const std::filesystem::path list = folder_ / "types";
    std::ifstream previous(list);
    std::string line;
    std::vector<std::string> declared;
    while (std::getline(previous, line)) declared.push_back(line);
    previous.close();
    std::filesystem::remove(list, error);
    for (const std::string& type : declared) {
        if (!type.empty()) std::filesystem::remove(fileOf(type), error);
    }

    for (const PasteboardItem& item : items) {
        if (item.type.empty() || item.type.find('\n') != std::string::npos ||
            item.type == "types" || item.type.starts_with(".")) {
            return false;
        }
        if (!writeFile(fileOf(item.type), reinterpret_cast<const char*>(item.bytes.data()),
                       item.bytes.size())) {
            return false;
        }
    }
    std::ostringstream types;
    for (const PasteboardItem& item : items) types << item.type << '\n';
    const std::string text = types.str();
    return writeFile(list, text.data(), text.size());
}

}  // namespace pelko::phone::sim
