// An owner for a matrix of the allocation module: it records its own number
// of rows, so that it is given back whole whatever happens to the run's
// counters, and exactly once.
#pragma once

#include <utility>

#include "LIB/NRUTIL.h"

namespace kestranov {

template <class T>
struct MatrixCalls;
template <>
struct MatrixCalls<double> {
    static double** make(int cols, int rows) { return dmatrice(cols, rows); }
    static void release(double** m, int rows) { frdmatrice(m, rows); }
};
template <>
struct MatrixCalls<unsigned char> {
    static unsigned char** make(int cols, int rows) { return ucmatrice(cols, rows); }
    static void release(unsigned char** m, int rows) { frucmatrice(m, rows); }
};

template <class T>
class Matrix {
public:
    Matrix() = default;
    // `rows` rows of `cols` zero-filled cells; empty when the module returns null.
    Matrix(int cols, int rows) : rows_(MatrixCalls<T>::make(cols, rows)), count_(rows_ ? rows : 0) {}
    Matrix(Matrix&& other) noexcept : rows_(std::exchange(other.rows_, nullptr)), count_(std::exchange(other.count_, 0))
    {
    }
    Matrix& operator=(Matrix&& other) noexcept
    {
        std::swap(rows_, other.rows_);
        std::swap(count_, other.count_);
        return *this;
    }
    Matrix(const Matrix&) = delete;
    Matrix& operator=(const Matrix&) = delete;
    ~Matrix()
    {
        if (rows_) MatrixCalls<T>::release(rows_, count_);
    }

    explicit operator bool() const { return rows_ != nullptr; }
    T* operator[](int row) const { return rows_[row]; }
    T* const* rows() const { return rows_; }

private:
    T** rows_ = nullptr;
    int count_ = 0;
};

}  // namespace kestranov
