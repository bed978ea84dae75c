// The gathering and applying steps of each command, against the panel.
#pragma once

#include "RemotePanel.h"
#include "RemoteRecords.h"
#include "RemoteVolumes.h"

#include <rapidjson/document.h>

// Fills status; true when the last device query made succeeded.
bool GatherRemoteStatus(IRemotePanel& panel, const RemoteVolumeMemory& volumes, const char* blockName,
                        RemoteStatus* status);
void GatherPlayingStatus(IRemotePanel& panel, PlayingStatus* playing, bool* withPlayback, bool* withAsio);

// Each returns false when gathering or the request's check failed (answer
// "fail", nothing applied); true once it applied what it could. Level and
// mute are set only when the request names "volume".
bool RunSetPlayback(IRemotePanel& panel, RemoteVolumeMemory& volumes, const rapidjson::Value& request);
bool RunSetRecord(IRemotePanel& panel, RemoteVolumeMemory& volumes, const rapidjson::Value& request);

// The highest record input of line type; E_FAIL without one.
HRESULT FindLineInput(IRemotePanel& panel, int* line);
