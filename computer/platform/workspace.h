// The workspace seam: opening locations, and (later) the running apps and installed bundles.
#pragma once

#include <string>

namespace pelko::computer {

class Workspace {
  public:
    virtual ~Workspace() = default;
    /// Opens a URL with its default handler; false when nothing could open it.
    virtual bool openURL(const std::string& url) = 0;
};

}  // namespace pelko::computer
