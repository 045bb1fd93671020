#pragma once

#include <QString>

// A file operation of the history that failed: the system's error number and
// the file. The log turns the first into what the operator reads.
struct FileFault {
    int err = 0;
    QString path;
};
