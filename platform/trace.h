// The diagnostic trace: every diagnostic line of the driver goes through here.
// The shipped module has no listener, so lines are dropped at the sink.
#pragma once

// One line of text to the trace sink.
void Trace(const char* line);

// The label followed by the system's text for the calling thread's last error,
// as one line of at most 1023 characters. The last error is left as it was.
void TraceLastError(const char* label);
