// The number of files the process may hold open. Every transfer is a socket and a file,
// and 256 receive slots plus their archives and the listener pass the usual soft limit
// of 1,024 descriptors, after which accepting fails.
#pragma once

// Raises the soft limit of open files to the hard limit; false when the system refused.
bool RaiseOpenFileLimit();
