#include "platform/linux/evdev.h"

namespace linuxhost {

namespace {

// Evdev codes of the keys, by virtual-key code.
struct VkKey {
  unsigned vk;
  unsigned evdev;
};
constexpr VkKey kVkKeys[] = {
    {0x08, 14},  {0x09, 15},  {0x0D, 28},  {0x10, 42},  {0x11, 29},
    {0x12, 56},  {0x13, 119}, {0x14, 58},  {0x15, 93},  {0x19, 41},
    {0x1B, 1},   {0x1C, 92},  {0x1D, 94},  {0x20, 57},  {0x21, 104},
    {0x22, 109}, {0x23, 107}, {0x24, 102}, {0x25, 105}, {0x26, 103},
    {0x27, 106}, {0x28, 108}, {0x2C, 99},  {0x2D, 110}, {0x2E, 111},
    {0x30, 11},  {0x31, 2},   {0x32, 3},   {0x33, 4},   {0x34, 5},
    {0x35, 6},   {0x36, 7},   {0x37, 8},   {0x38, 9},   {0x39, 10},
    {0x41, 30},  {0x42, 48},  {0x43, 46},  {0x44, 32},  {0x45, 18},
    {0x46, 33},  {0x47, 34},  {0x48, 35},  {0x49, 23},  {0x4A, 36},
    {0x4B, 37},  {0x4C, 38},  {0x4D, 50},  {0x4E, 49},  {0x4F, 24},
    {0x50, 25},  {0x51, 16},  {0x52, 19},  {0x53, 31},  {0x54, 20},
    {0x55, 22},  {0x56, 47},  {0x57, 17},  {0x58, 45},  {0x59, 21},
    {0x5A, 44},  {0x5B, 125}, {0x5D, 127}, {0x60, 82},  {0x61, 79},
    {0x62, 80},  {0x63, 81},  {0x64, 75},  {0x65, 76},  {0x66, 77},
    {0x67, 71},  {0x68, 72},  {0x69, 73},  {0x6A, 55},  {0x6B, 78},
    {0x6D, 74},  {0x6E, 83},  {0x6F, 98},  {0x70, 59},  {0x71, 60},
    {0x72, 61},  {0x73, 62},  {0x74, 63},  {0x75, 64},  {0x76, 65},
    {0x77, 66},  {0x78, 67},  {0x79, 68},  {0x7A, 87},  {0x7B, 88},
    {0x91, 70},  {0xBA, 40},  {0xBB, 39},  {0xBC, 51},  {0xBD, 12},
    {0xBE, 52},  {0xBF, 53},  {0xC0, 26},  {0xDB, 27},  {0xDC, 124},
    {0xDD, 43},  {0xDE, 13},  {0xE2, 89},
};
constexpr unsigned kEvdevRightShift = 54;
constexpr unsigned kEvdevRightCtrl = 97;
constexpr unsigned kEvdevRightAlt = 100;
constexpr unsigned kRightShiftScan = 0x36;

} // namespace

unsigned EvdevCodeForVirtualKey(unsigned vk, unsigned scan, DWORD flags) {
  if (vk == 0x10 && scan == kRightShiftScan)
    return kEvdevRightShift;
  // The right Ctrl and Alt come as the left codes with the extended flag.
  if (vk == 0x11 && (flags & KEYEVENTF_EXTENDEDKEY))
    return kEvdevRightCtrl;
  if (vk == 0x12 && (flags & KEYEVENTF_EXTENDEDKEY))
    return kEvdevRightAlt;
  for (const VkKey &k : kVkKeys)
    if (k.vk == vk)
      return k.evdev;
  return 0;
}

} // namespace linuxhost
