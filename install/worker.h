// The install worker: the thread that downloads, unpacks and puts the release in place.
#pragma once
#include "install/client.h"

// Thread procedure for _beginthreadex; the argument is the dialog's IClient.
// Returns 1 after a successful run, 0 after a failure.
unsigned __stdcall InstallWorker(void* client);
// Deletes the run's downloaded package files from the staging folder.
void CleanStaging(IClient& client);
