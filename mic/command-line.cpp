#include "command-line.h"

#include <locale.h>

#include <cctype>
#include <cstdlib>
#include <memory>
#include <system_error>

namespace pelko::mic {

namespace {

struct LocaleDeleter {
    void operator()(locale_t locale) const { freelocale(locale); }
};
using OwnedLocale = std::unique_ptr<std::remove_pointer_t<locale_t>, LocaleDeleter>;

}  // namespace

std::optional<double> parseMaxSeconds(const std::string& argument) {
    // strtod skips leading white space, which the argument may not have.
    if (argument.empty() || std::isspace(static_cast<unsigned char>(argument[0]))) {
        return std::nullopt;
    }
    // The POSIX locale whatever the environment says, so "2.5" never reads as 2.
    const OwnedLocale posix(newlocale(LC_ALL_MASK, "POSIX", nullptr));
    if (!posix) return std::nullopt;
    char* end = nullptr;
    const double value = strtod_l(argument.c_str(), &end, posix.get());
    if (end != argument.c_str() + argument.size()) return std::nullopt;
    return value;
}

std::filesystem::path outputURL(const std::string& argument) {
    std::error_code error;
    auto absolute = std::filesystem::absolute(argument, error);
    return error ? std::filesystem::path(argument) : absolute;
}

}  // namespace pelko::mic
