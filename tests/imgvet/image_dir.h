// A scratch directory for image files, readable by every user, removed with its contents.
#pragma once
#include <string>

class ImageDir {
public:
    ImageDir();
    ~ImageDir();
    const std::string &path() const { return path_; }
    // Writes bytes to name inside the directory and returns the full path.
    std::string Put(const std::string &name, const std::string &bytes, int mode = 0644) const;

private:
    std::string path_;
};
