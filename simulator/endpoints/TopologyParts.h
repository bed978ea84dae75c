// What the virtual device's topology objects share: the parts of the two
// adapters' topologies, a reference to one part (or to an endpoint's own
// connector), whether it still lives, and the makers of the objects.
#pragma once

#include "simulator/endpoints/ComBase.h"

#include <windows.h>
#include <devicetopology.h>
#include <endpointvolume.h>

#include <cstdint>
#include <string>

namespace sim::topology {

constexpr UINT kEndpointConnectorId = 0x00010000;
constexpr uint32_t kAdapterCount = 2;
constexpr uint32_t kDeviceAdapter = 0;
constexpr int kNone = -1;

constexpr GUID kNodeSum = {0xDA441A60, 0xC556, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};

enum class Control { None, Level, Mute, Selector };

struct PartDesc {
    UINT localId;
    PartType type;
    const GUID* subtype;
    const wchar_t* name;
    Control control;
    uint32_t endpoint;           // whose level or mute the control holds
    int in[2];                   // parts feeding this one
    int out[2];                  // parts this one feeds
    int endpointLink;            // bridge connector: the endpoint connected to it
    ConnectorType connectorType;
    DataFlow flow;
};

struct Adapter {
    const PartDesc* parts;
    uint32_t count;
};

extern const Adapter kAdapters[kAdapterCount];

// The device id of an adapter's topology.
std::wstring AdapterDeviceId(uint32_t adapter);

// A part of an adapter's topology, or an endpoint's own connector.
struct PartRef {
    bool endpointConnector;
    uint32_t endpoint;           // endpoint connector: its endpoint; adapter part: the endpoint it was reached from
    uint32_t adapter;
    uint32_t index;

    const PartDesc& Desc() const { return kAdapters[adapter].parts[index]; }
};

HRESULT Alive(uint32_t endpoint, uint32_t generation);
uint32_t CurrentTopology();
// The device's own parts die with an unplug; an endpoint's connector with its endpoint.
HRESULT PartAlive(const PartRef& ref, uint32_t generation);
// The endpoint whose level or mute a control of this part holds: an extra
// endpoint has its own on the path it shares with its twin.
uint32_t ControlEndpoint(const PartRef& ref);
bool IsMuxTurnedToSum(const PartDesc& d);

// New objects, reference count 1 (SimTopology.cpp, SimTopologyPart.cpp, SimTopologyControls.cpp).
HRESULT CreateTopology(bool endpointTopology, uint32_t id, uint32_t generation, IDeviceTopology** topology);
HRESULT CreatePart(const PartRef& ref, uint32_t generation, IPart** part);
HRESULT CreateLevelControl(uint32_t endpoint, uint32_t generation, IAudioVolumeLevel** control);
HRESULT CreateMuteControl(uint32_t endpoint, uint32_t generation, IAudioMute** control);
HRESULT CreateInputSelector(uint32_t generation, IAudioInputSelector** control);
HRESULT CreateControlInterface(const wchar_t* name, const IID& iid, IControlInterface** control);

}  // namespace sim::topology
