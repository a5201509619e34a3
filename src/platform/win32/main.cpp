// The Windows entry: the program proper is FlintoMain.
#include "app/app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  return FlintoMain(instance);
}
