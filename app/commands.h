// The main window's WM_COMMAND identifiers: the menu resource, the code and
// the harness all take them from here. Preprocessor lines only, as the
// resource compiler reads #define, not enum. A range item is its base + n.
#ifndef MB_APP_COMMANDS_H
#define MB_APP_COMMANDS_H

#define CMD_ABOUT 10
#define CMD_QUIT 11
// Internal, no menu item: stops the test, and starts it again when lParam is
// not 0.
#define CMD_RESTART 12
#define CMD_RESTARTTEST 13
#define CMD_STOPTEST 14
// 100, 200, 440 and 1000 Hz.
#define CMD_SINE_FIRST 100
#define CMD_SINE_LAST 103
#define CMD_PASSTHROUGH 150
// 16, 32, 64, 128, 256 and 512 inputs and outputs.
#define CMD_IOLIMIT_FIRST 151
#define CMD_IOLIMIT_LAST 156
// Zoom table index n at CMD_ZOOM_FIRST + n.
#define CMD_ZOOM_FIRST 160
#define CMD_ZOOM_LAST 175
// Load items: base + amount in units of 128.
#define CMD_CPULOAD_BASE 200
#define CMD_FPULOAD_BASE 300
#define CMD_SINGLECOPY_BASE 500
#define CMD_PATCH_BASE 600
#define CMD_BUSCOPY_BASE 700
#define CMD_CONTROLPANEL 999
// The Devices menu item of the ASIO driver at 1-based list index i is
// CMD_ASIODRIVER_FIRST - 1 + i.
#define CMD_ASIODRIVER_FIRST 1000
#define CMD_ASIODRIVER_LAST 1099
// No menu item: the Windows render endpoint at 1-based index i.
#define CMD_WINDEVICE_FIRST 1250
#define CMD_WINDEVICE_LAST 1349

// Every name above, for the tools that take a command by name.
#define CMD_NAMES(X)                                                                                                \
  X(CMD_ABOUT) X(CMD_QUIT) X(CMD_RESTART) X(CMD_RESTARTTEST) X(CMD_STOPTEST) X(CMD_SINE_FIRST) X(CMD_SINE_LAST)      \
  X(CMD_PASSTHROUGH) X(CMD_IOLIMIT_FIRST) X(CMD_IOLIMIT_LAST) X(CMD_ZOOM_FIRST) X(CMD_ZOOM_LAST) X(CMD_CPULOAD_BASE) \
  X(CMD_FPULOAD_BASE) X(CMD_SINGLECOPY_BASE) X(CMD_PATCH_BASE) X(CMD_BUSCOPY_BASE) X(CMD_CONTROLPANEL)              \
  X(CMD_ASIODRIVER_FIRST) X(CMD_ASIODRIVER_LAST) X(CMD_WINDEVICE_FIRST) X(CMD_WINDEVICE_LAST)

#endif  // MB_APP_COMMANDS_H
