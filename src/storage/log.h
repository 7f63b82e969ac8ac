#pragma once
// Appends one time-stamped line to ostrel.log in the data folder; any thread.
// Wide format rule: %s is a wide string, %S a narrow one. Never fails loudly:
// a line that cannot be written is lost.
void Log(const wchar_t* format, ...);
