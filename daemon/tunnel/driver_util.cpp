#include "tunnel/driver_util.h"

#include <cerrno>
#include <cstring>
#include "core/log.h"
#include "platform/file.h"

bool ZND_HasLineBreak(const char *text)
{
    return text && strpbrk(text, "\r\n") != nullptr;
}

bool ZND_WriteServiceFile(const char *path, const std::string &content, mode_t mode)
{
    if (ZND_FileReplace(path, content, mode))
        return true;
    ZND_ERROR("write %s failed: %s", path, strerror(errno));
    return false;
}
