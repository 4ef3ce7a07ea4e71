// Tiny program that the launcher tests run under qvsim.
//   sim_probe exit N          exits with N
//   sim_probe signal N        kills itself with signal N
//   sim_probe pciinfo NODE    prints the CISS PCI information of NODE
#include <fcntl.h>
#include <linux/cciss_ioctl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "exit") == 0)
        return std::atoi(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "signal") == 0) {
        ::signal(std::atoi(argv[2]), SIG_DFL);
        ::raise(std::atoi(argv[2]));
        return 1;
    }
    if (argc == 3 && std::strcmp(argv[1], "pciinfo") == 0) {
        int fd = ::open(argv[2], O_RDWR);
        if (fd < 0) {
            std::printf("open: %s\n", std::strerror(errno));
            return 3;
        }
        cciss_pci_info_struct info{};
        int rc = ::ioctl(fd, CCISS_GETPCIINFO, &info);
        int err = errno;
        ::close(fd);
        if (rc != 0) {
            std::printf("ioctl: %s\n", std::strerror(err));
            return 4;
        }
        std::printf("bus=%02x dev_fn=%02x domain=%04x\n", info.bus, info.dev_fn, info.domain);
        return 0;
    }
    std::fprintf(stderr, "usage: sim_probe exit N | signal N | pciinfo NODE\n");
    return 2;
}
