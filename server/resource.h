// Resource identifiers of Corvane.dll.
#pragma once

#define IDS_PROJNAME 100
#define IDR_CRYPT 101
