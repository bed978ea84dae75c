#include "RemoteVolumes.h"

#include "RemoteProtocol.h"

namespace {

bool Known(int control) { return control >= 0 && control < 1 + kRemoteVolumeInputs; }

}  // namespace

int32_t RemoteVolumeMemory::Percent(int control, const VolumeRange& range) const {
    if (Known(control)) {
        const Entry& e = m_entries[control];
        if (e.set && e.level == range.left && e.minimum == range.minimum && e.maximum == range.maximum) {
            return e.percent;
        }
    }
    return VolumePercent(range);
}

void RemoteVolumeMemory::Remember(int control, const VolumeRange& range, int32_t percent) {
    if (!Known(control)) return;
    Entry& e = m_entries[control];
    e.set = range.maximum > range.minimum;
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    e.level = range.left;
    e.minimum = range.minimum;
    e.maximum = range.maximum;
    e.percent = percent;
}
