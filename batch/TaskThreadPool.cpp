#include "batch/TaskThreadPool.h"

template class CMultiTaskThread<CAutoTrimTask>;
template class CBasicTaskThreadPool<CAutoTrimTask>;
