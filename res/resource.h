// Resource identifiers of the installer executable.
#pragma once
#define IDB_START_BACKGROUND    101  // start and finish pages
#define IDI_APP                 102
#define IDS_PACKAGE_CODE        103
#define IDS_DISTRIBUTOR_CHS     104
#define IDS_DISTRIBUTOR_CHT     105
#define IDS_DISTRIBUTOR_ENU     106
#define IDS_FOLDER_PREFIX       107
#define IDB_PROGRESS_BACKGROUND 104  // progress and failure pages
