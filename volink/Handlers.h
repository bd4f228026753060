// The handlers of the command table, one file per group of commands.
#pragma once

namespace volink {

struct Invocation;

// ProbeCommands.cpp: the adapter and its target.
int ListCommand(Invocation& call);
int InfoCommand(Invocation& call);
int ReadCommand(Invocation& call);
int WriteCommand(Invocation& call);
int RegsCommand(Invocation& call);
int HaltCommand(Invocation& call);
int StepCommand(Invocation& call);
int GoCommand(Invocation& call);
int StateCommand(Invocation& call);
int ResetCommand(Invocation& call);
int BlinkCommand(Invocation& call);
int LoaderCommand(Invocation& call);
int ReadyCommand(Invocation& call);
int HoldCommand(Invocation& call);

// ImageCommand.cpp: a firmware image file.
int ImageCommand(Invocation& call);

// BootLoaderCommands.cpp: the adapter's own boot-loader area.
int BootLoaderCheckCommand(Invocation& call);
int BootLoaderIdCommand(Invocation& call);
int BootLoaderEraseCommand(Invocation& call);
int BootLoaderWriteCommand(Invocation& call);

// UpdateCommand.cpp: the firmware check and update.
int UpdateCommand(Invocation& call);

}  // namespace volink
