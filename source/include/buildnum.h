// Version of the tool, shown at start-up, by `version` and in the log header.
#ifndef BUILDNUM_H
#define BUILDNUM_H

#define VERSION_MAJOR 5
#define VERSION_MINOR 6
#define BUILD_NUMBER 1

#endif
