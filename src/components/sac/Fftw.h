#pragma once

#include <complex>
#include <cstddef>
#include <mutex>
#include <utility>

#include <fftw3.h>

namespace sac::dsp {

// FFTW shares wisdom and tables between plans: only fftw_execute may run on several threads at
// once (FFTW manual, "Thread safety"). Every plan is made and destroyed under this lock.
inline std::mutex& fftwPlannerMutex() {
    static std::mutex m;
    return m;
}

// Owns one fftw_malloc'd buffer (aligned for FFTW's SIMD paths).
template <class T> class FftwBuffer {
public:
    explicit FftwBuffer(std::size_t n)
        : data_(static_cast<T*>(fftw_malloc(sizeof(T) * (n ? n : 1)))), size_(data_ ? n : 0) {}
    ~FftwBuffer() { fftw_free(data_); }
    FftwBuffer(const FftwBuffer&) = delete;
    FftwBuffer& operator=(const FftwBuffer&) = delete;
    FftwBuffer(FftwBuffer&& o) noexcept
        : data_(std::exchange(o.data_, nullptr)), size_(std::exchange(o.size_, 0)) {}
    FftwBuffer& operator=(FftwBuffer&& o) noexcept {
        std::swap(data_, o.data_);
        std::swap(size_, o.size_);
        return *this;
    }

    T* data() { return data_; }
    std::size_t size() const { return size_; }
    explicit operator bool() const { return data_ != nullptr; }
    T& operator[](std::size_t i) { return data_[i]; }

private:
    T* data_;
    std::size_t size_;
};

// Owns one fftw_plan; an empty plan (planning failed) executes nothing.
class FftwPlan {
public:
    FftwPlan() = default;
    explicit FftwPlan(fftw_plan p) : plan_(p) {}
    ~FftwPlan() {
        if (plan_) {
            std::lock_guard lock(fftwPlannerMutex());
            fftw_destroy_plan(plan_);
        }
    }
    FftwPlan(const FftwPlan&) = delete;
    FftwPlan& operator=(const FftwPlan&) = delete;
    FftwPlan(FftwPlan&& o) noexcept : plan_(std::exchange(o.plan_, nullptr)) {}
    FftwPlan& operator=(FftwPlan&& o) noexcept {
        std::swap(plan_, o.plan_);
        return *this;
    }

    explicit operator bool() const { return plan_ != nullptr; }
    void execute() const {
        if (plan_)
            fftw_execute(plan_);
    }

private:
    fftw_plan plan_ = nullptr;
};

// A plan made under the planner lock: planFftw([&] { return fftw_plan_dft_r2c_1d(...); }).
template <class Make> FftwPlan planFftw(Make make) {
    std::lock_guard lock(fftwPlannerMutex());
    return FftwPlan(make());
}

} // namespace sac::dsp
