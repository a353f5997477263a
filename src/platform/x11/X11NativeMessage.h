// X11 events as native messages. The number is the event code without the "sent" bit;
// the parameters:
//   KeyPress, KeyRelease, ButtonPress, ButtonRelease, MotionNotify, EnterNotify,
//   LeaveNotify: the event window; param1 = detail (keycode or button), param2 = state.
//   FocusIn, FocusOut: param1 = detail, param2 = mode.
//   Expose, ConfigureNotify: param1 = x in the low and y in the high 16 bits, param2 =
//   width and height alike.
//   MapNotify, UnmapNotify, DestroyNotify: the window itself; no parameters.
//   PropertyNotify: param1 = the property's atom, param2 = its state.
//   ClientMessage: param1 = the message type's atom, param2 = its first 32-bit datum.
#pragma once

struct NativeMessage;

bool X11DecodeNativeMessage(void *event, NativeMessage *out);
