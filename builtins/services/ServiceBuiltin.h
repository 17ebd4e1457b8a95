#pragma once
// Builtin classes of the services between lines: the common shape, each with a Run of its own.
#include "builtins/BuiltinOper.h"

#define ZZ_SERVICE_L(Cls, N)                                                                                           \
    class Cls final : public ::zz::BuiltinL<N> {                                                                       \
    public:                                                                                                            \
        using Base = ::zz::BuiltinL<N>;                                                                                \
        using Base::Base;                                                                                              \
        int32_t Run() override;                                                                                        \
    }
#define ZZ_SERVICE_P(Cls, N)                                                                                           \
    class Cls final : public ::zz::BuiltinP<N> {                                                                       \
    public:                                                                                                            \
        using Base = ::zz::BuiltinP<N>;                                                                                \
        using Base::Base;                                                                                              \
        int32_t Run() override;                                                                                        \
    }
