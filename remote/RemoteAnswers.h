// The answer documents of the remote protocol, written compactly.
#pragma once

#include "RemoteRecords.h"

#include <string>

std::string BuildStatusAnswer(bool ok);
std::string BuildVolumeAnswer();
std::string BuildGetStatusAnswer(const RemoteStatus& status);
std::string BuildGetDataAnswer(const RemoteCapabilities& caps);
std::string BuildPlayingAnswer(const PlayingStatus& playing, bool withPlayback, bool withAsio);
