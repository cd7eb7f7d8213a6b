// The frame of every entry point that takes a handle: find the channel, hold its lock for the
// call, refuse a channel whose chip has gone.
#pragma once

#include <mutex>

#include "handles.h"

namespace ftl {

template <typename Body>
FtStatus OnChannel(FtHandle handle, Body&& body) {
    std::shared_ptr<Channel> channel = FindChannel(handle);
    if (!channel) return kFtInvalidHandle;
    std::lock_guard<std::mutex> lock(channel->mutex);
    if (channel->unplugged || channel->cycled) return kFtIoError;
    return body(*channel);
}

}  // namespace ftl
