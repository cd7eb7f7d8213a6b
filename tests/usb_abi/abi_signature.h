// One function per row of abi_rows.h, whose parameters carry what must agree: a function's type,
// a structure's size and alignment, a member's offset and type. signatures_face.cpp defines them
// from the face's declarations, signatures_system.cpp calls them with the system header's; the
// mangled names differ, and the link fails naming the row, wherever the two disagree.
#pragma once

#include <cstddef>

template <std::size_t N>
struct AbiNumber {};

#define VC_ABI_FUNCTION(name) void VcAbi_##name(decltype(&name))
#define VC_ABI_STRUCT(s) void VcAbi_##s(AbiNumber<sizeof(s)>, AbiNumber<alignof(s)>)
#define VC_ABI_MEMBER(s, m) void VcAbi_##s##_##m(AbiNumber<offsetof(s, m)>, decltype(&s::m))
