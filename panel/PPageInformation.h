// The single page shown when no device is available.
#pragma once

#include "Dialog.h"
#include "PanelIds.h"

class CPPageInformation : public CDialog {
public:
    CPPageInformation() : CDialog(IDD_PAGE_INFORMATION) {}
};
