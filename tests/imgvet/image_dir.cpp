#include "image_dir.h"

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

#include "harness/sandbox.h"

ImageDir::ImageDir()
{
    char tmpl[] = "/tmp/imgvet-test.XXXXXX";
    if (mkdtemp(tmpl) != nullptr) {
        path_ = tmpl;
        chmod(tmpl, 0755);
    }
}

ImageDir::~ImageDir()
{
    if (!path_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
}

std::string ImageDir::Put(const std::string &name, const std::string &bytes, int mode) const
{
    std::string file = path_ + "/" + name;
    ZND_TestWriteFile(file, bytes, mode);
    return file;
}
