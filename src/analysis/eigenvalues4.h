// The eigenvalues of a 4×4 matrix of doubles as Eigen's EigenSolver finds them, bit for bit, in a
// fraction of its time: the same Hessenberg reduction, real Schur iteration and reading of the
// eigenvalues, operation for operation, written out for the fixed size (Eigen's general code
// walks blocks of sizes known only at run time). Where the bits could depend on what the written
// out steps do not follow (a zero in the result, whose sign Eigen's order of operations decides;
// a subdiagonal within rounding of the bound from the matrix's norm; the iteration not
// converging; a value that is not finite), it hands the matrix to EigenSolver itself.
#pragma once

#include "analysis/analysis.h"

namespace pitch::analysis {

// The values of Eigen::EigenSolver<Matrix4>(a, false).eigenvalues().
Eigenvalues4 EigenvaluesOf(const Matrix4& a);

namespace eigenvalues_detail {
// The written-out steps alone: false where they hand the matrix on (values then unspecified).
bool WrittenOutEigenvalues(const Matrix4& a, Eigenvalues4& values);
}  // namespace eigenvalues_detail

}  // namespace pitch::analysis
