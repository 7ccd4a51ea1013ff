#pragma once

#include "norvo/log.hpp"

namespace norvo::service {

inline constexpr log::Target kLog{"vxt_impl::rpc_server"};

}  // namespace norvo::service
