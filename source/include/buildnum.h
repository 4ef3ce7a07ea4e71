#ifndef BUILDNUM_H
#define BUILDNUM_H
#endif
