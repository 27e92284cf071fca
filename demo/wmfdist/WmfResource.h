// Resource ids of the demo redistributable.
#pragma once

#define IDS_WMF_CAPTION  1
#define IDS_WMF_INFO     2
