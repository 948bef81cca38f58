#pragma once
#include <string>
#include <sys/types.h>
#include <vector>

// A process that has a port's device open.
struct PortHolder {
    pid_t Pid = 0;
    std::string Command; // the process's short name as the system lists it
};

// Other processes that hold the port's device open: a terminal program left open on the port, or a
// modem manager probing a new one. Such a process takes received bytes away from the port, so replies
// go missing. Best effort, for telling the operator: processes whose open files this process may not
// inspect are left out silently, and so is the process at the far end of a pseudo-terminal (it holds
// the master side). Empty when the device does not exist. Sorted by process id.
std::vector<PortHolder> OtherPortHolders(const std::string& port);
