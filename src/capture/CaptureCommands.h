// The capture window in the command table: how the registry makes it, and what the
// commands that act on its picture do and when they may run.
#pragma once

class Commands;
class ModZorvin;
class NetEngine;
class WindowRegistry;

void RegisterCaptureCommands(ModZorvin &ctx, NetEngine &engine, Commands &commands, WindowRegistry &windows);
