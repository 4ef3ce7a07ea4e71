// Directory handle of the platform's sysfs walks; it closes itself on every path.
#ifndef PAVL_DIR_H
#define PAVL_DIR_H

#include <dirent.h>

namespace pavlin {

class Dir {
public:
    explicit Dir(const char* path) : d_(opendir(path)) {}
    ~Dir() {
        if (d_ != nullptr) {
            closedir(d_);
        }
    }
    Dir(const Dir&) = delete;
    Dir& operator=(const Dir&) = delete;
    explicit operator bool() const { return d_ != nullptr; }
    dirent* next() { return readdir(d_); }

private:
    DIR* d_;
};

} // namespace pavlin

#endif
