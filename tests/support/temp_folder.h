// A fresh folder under the system's temporary folder for one test, private
// to it (so parallel tests never meet), removed with everything in it when
// the test ends.
#pragma once

#include <string>
#include <string_view>

namespace nuva::testing {

class TempFolder {
  public:
    // `prefix` names the folder ("<prefix>-XXXXXX"), so that one left by a
    // killed test says which test made it. Throws when no folder can be made.
    explicit TempFolder(std::string_view prefix = "nuva-test");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder, with trailing '/', as installation folders are written.
    const std::string& path() const { return path_; }
    // `relative` inside the folder.
    std::string Join(std::string_view relative) const { return path_ + std::string(relative); }

    // Writes a file (relative path, folders made as needed); returns its path.
    std::string Write(std::string_view relative, std::string_view contents) const;

  private:
    std::string path_;
};

}  // namespace nuva::testing
