// The program's resources: the string table, the class icon and the device list dialog.
#pragma once

#include <platform/resources.h>

constexpr UINT IDS_CLASS_NAME = 109;  // "QUINDLE"
constexpr UINT IDI_QUINDLE = 107;
constexpr UINT IDI_QUINDLE_SMALL = 108;  // named by the class, not present
constexpr UINT IDM_QUINDLE = 109;        // named by the class, not present
constexpr UINT IDD_DEVICE_LIST = 131;
constexpr int IDC_DEVICE_LIST_TEXT = 1000;

const ModuleResources& QuindleResources();
