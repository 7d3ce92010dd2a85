#pragma once

// The dcservo command line. Exit codes: 0 success, 1 the work failed, 2 bad usage or bad
// input (nothing written then).
int RunCommandLine(int argc, char** argv);
