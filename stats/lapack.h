// Declarations of the few BLAS and LAPACK routines the regression code uses,
// through their Fortran interfaces (every argument by pointer, matrices
// column-major). Character arguments are followed by their hidden lengths,
// which gfortran-built libraries expect at the end of the argument list.
#pragma once

#include <cstddef>

extern "C" {

// Least squares or minimum-norm solution of a full-rank system by QR or LQ.
void dgels_(const char* trans, const int* m, const int* n, const int* nrhs, double* a, const int* lda,
            double* b, const int* ldb, double* work, const int* lwork, int* info, std::size_t trans_len);

// QR factorisation by Householder reflections (R in the upper triangle).
void dgeqrf_(const int* m, const int* n, double* a, const int* lda, double* tau, double* work,
             const int* lwork, int* info);

// Inverse of a triangular matrix, in place.
void dtrtri_(const char* uplo, const char* diag, const int* n, double* a, const int* lda, int* info,
             std::size_t uplo_len, std::size_t diag_len);

// Cholesky factorisation of a symmetric positive definite matrix.
void dpotrf_(const char* uplo, const int* n, double* a, const int* lda, int* info, std::size_t uplo_len);

// Inverse of a symmetric positive definite matrix from its Cholesky factor.
void dpotri_(const char* uplo, const int* n, double* a, const int* lda, int* info, std::size_t uplo_len);

// Euclidean norm of a strided vector.
double dnrm2_(const int* n, const double* x, const int* incx);

// y := alpha * op(A) * x + beta * y.
void dgemv_(const char* trans, const int* m, const int* n, const double* alpha, const double* a,
            const int* lda, const double* x, const int* incx, const double* beta, double* y, const int* incy,
            std::size_t trans_len);

// C := alpha * op(A) * op(A)^T + beta * C, one triangle of C.
void dsyrk_(const char* uplo, const char* trans, const int* n, const int* k, const double* alpha,
            const double* a, const int* lda, const double* beta, double* c, const int* ldc,
            std::size_t uplo_len, std::size_t trans_len);

// y := alpha * A * x + beta * y for symmetric A stored in one triangle.
void dsymv_(const char* uplo, const int* n, const double* alpha, const double* a, const int* lda,
            const double* x, const int* incx, const double* beta, double* y, const int* incy,
            std::size_t uplo_len);
}
