#include "platform/x11/x11_stacking.h"

namespace x11 {

Restack PlaceKeyboard(const std::vector<StackedWindow> &stack,
                      size_t keyboard) {
  Restack move;
  if (keyboard >= stack.size())
    return move;
  auto counts = [](const StackedWindow &w) {
    return w.viewable && w.overlaps && !w.ours;
  };
  // The topmost ordinary window that covers some of the keyboard.
  size_t ordinary = stack.size();
  for (size_t i = stack.size(); i-- > 0;)
    if (i != keyboard && counts(stack[i]) && !stack[i].overrideRedirect) {
      ordinary = i;
      break;
    }
  if (ordinary != stack.size() && ordinary > keyboard) {
    move.mode = Restack::kAbove;
    move.sibling = stack[ordinary].id;
    return move;
  }
  const size_t from = ordinary == stack.size() ? 0 : ordinary + 1;
  for (size_t i = from; i < keyboard; ++i)
    if (counts(stack[i]) && stack[i].overrideRedirect) {
      move.mode = Restack::kBelow;
      move.sibling = stack[i].id;
      return move;
    }
  return move;
}

} // namespace x11
