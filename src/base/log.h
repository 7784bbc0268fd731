// Diagnostics log: "KestrelFilter.log" in the user's documents folder, one
// "hh:mm:ss - message" record per call, each preceded by a line break.
#ifndef KESTREL_BASE_LOG_H
#define KESTREL_BASE_LOG_H

// Fixes the log path and deletes the old file. 1 on success, 0 when the
// documents folder cannot be resolved (nothing is deleted then).
int ResetLog();

// Appends one record formatted from a wide printf-style format (%d, %x, %s
// for a wide string, %I64d). 1 when written, 0 when the file cannot be
// opened. Messages longer than the buffer are cut.
int WriteLog(const wchar_t* format, ...);

// The log path fixed by the last successful ResetLog, or empty.
const wchar_t* GetLogPath();

#endif
