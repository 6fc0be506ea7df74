#pragma once
// libisofs expects these system headers before its own. We read its images through the data
// source interface it carries a copy of, without linking libburn.
#include <cstdint>
#include <ctime>
#include <sys/stat.h>
#include <sys/types.h>

#define LIBISOFS_WITHOUT_LIBBURN 1
#include <libisofs/libisofs.h>
