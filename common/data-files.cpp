#include "data-files.h"

namespace pelko {

std::filesystem::path dataFile(const std::string& value, const std::filesystem::path& folder,
                               const std::string& extension) {
    std::error_code error;
    if (value.empty() || value.find('/') != std::string::npos ||
        std::filesystem::exists(value, error))
        return value;
    const std::filesystem::path installed = folder / (value + extension);
    return std::filesystem::exists(installed, error) ? installed : std::filesystem::path(value);
}

}  // namespace pelko
