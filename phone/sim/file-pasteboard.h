// A pasteboard kept in a folder, for headless runs and tests.
#pragma once

#include <filesystem>

#include "platform/pasteboard.h"

namespace pelko::phone::sim {

/// The pasteboard as files in `folder`: "types" lists the declared types in order, one a line,
/// and each type's bytes are in a file named after the type with "/" written as "-"
/// ("image-png"). Replacing the contents removes the files of the types declared before.
class FilePasteboard final : public Pasteboard {
  public:
    explicit FilePasteboard(std::filesystem::path folder) : folder_(std::move(folder)) {}
    bool replaceContents(const std::vector<PasteboardItem>& items) override;

    /// The file that holds `type`'s bytes.
    std::filesystem::path fileOf(const std::string& type) const;

  private:
    std::filesystem::path folder_;
};

}  // namespace pelko::phone::sim
