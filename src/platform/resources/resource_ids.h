// Resource ids shared by the Windows resource script and the portable hosts.
#pragma once

#define IDI_FLINTO 101
#define IDR_CONTEXT_MENU 102
