#include "stats/regression.h"

#include <sys/mman.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <nlohmann/json.hpp>
#include <string>

#include "stats/descriptive.h"
#include "stats/distributions.h"
#include "stats/lapack.h"
#include "stats/log_hook.h"
#include "stats/sums.h"

namespace tabulix {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Diagnostic lines of the numeric code go to the one log through the engine's
// hook; the library reports no errors otherwise.
void logLine(const std::string& line) { statsLog(line); }

// Scratch array of doubles owned by one call, left uninitialised. Fresh memory
// is paid for page by page on first touch, which for the n x k copies of a
// large design costs more than the factorisation itself; arrays of 1 MiB and
// more are therefore 2 MiB-aligned and advised as transparent huge pages.
class Scratch {
 public:
  explicit Scratch(std::size_t count) {
    constexpr std::size_t kHuge = std::size_t{2} << 20;
    std::size_t bytes = std::max<std::size_t>(count, 1) * sizeof(double);
    if (bytes >= kHuge / 2) {
      bytes = (bytes + kHuge - 1) / kHuge * kHuge;
      data_ = static_cast<double*>(std::aligned_alloc(kHuge, bytes));
#ifdef MADV_HUGEPAGE
      if (data_) madvise(data_, bytes, MADV_HUGEPAGE);
#endif
    } else {
      data_ = static_cast<double*>(std::malloc(bytes));
    }
    if (!data_) throw std::bad_alloc();
  }
  ~Scratch() { std::free(data_); }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  double* data() { return data_; }
  double& operator[](std::size_t i) { return data_[i]; }

 private:
  double* data_ = nullptr;
};

// Column-major n x k copy of a design given as k columns (element (i, j) at i + j * n).
void copyDesign(const std::vector<std::vector<double>>& design, std::size_t n, double* out) {
  for (std::size_t j = 0; j < design.size(); ++j) {
    const auto& col = design[j];
    const std::size_t m = std::min(n, col.size());
    std::copy_n(col.begin(), m, out + j * n);
    std::fill(out + j * n + m, out + (j + 1) * n, 0.0);
  }
}

// --- Decimal subtraction -------------------------------------------------
//
// The analysis of variance takes each group mean's distance from the grand
// mean in decimal arithmetic, so that means that print alike (0.3 and
// 0.30000000000000004) are treated as equal up to the decimal rounding.
// A double becomes the shortest decimal that reads back as the same double;
// the two decimals are subtracted exactly and the difference is rounded to
// a 38-digit mantissa with round-half-even (banker's rounding) before it is
// read back as a double.

struct Decimal {
  bool negative = false;
  std::vector<int> digits;  // most significant first, no leading zeros; empty for zero
  int exponent = 0;         // value = digits * 10^exponent
};

Decimal toDecimal(double x) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
  Decimal d;
  const char* p = buf;
  if (*p == '-') {
    d.negative = true;
    ++p;
  }
  int fractionDigits = 0;
  bool afterPoint = false;
  for (; p < res.ptr && *p != 'e'; ++p) {
    if (*p == '.') {
      afterPoint = true;
      continue;
    }
    d.digits.push_back(*p - '0');
    if (afterPoint) ++fractionDigits;
  }
  int exp10 = 0;
  if (p < res.ptr) {
    const char* e = p + 1;
    if (*e == '+') ++e;  // from_chars accepts a minus sign only
    std::from_chars(e, res.ptr, exp10);
  }
  d.exponent = exp10 - fractionDigits;
  while (!d.digits.empty() && d.digits.front() == 0) d.digits.erase(d.digits.begin());
  return d;
}

// Magnitude comparison of two digit strings of equal length.
bool lessDigits(const std::vector<int>& a, const std::vector<int>& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace

double decimalDifference(double a, double b) {
  if (!std::isfinite(a) || !std::isfinite(b)) return a - b;
  Decimal x = toDecimal(a);
  Decimal y = toDecimal(b);
  y.negative = !y.negative;  // a - b = a + (-b)
  if (x.digits.empty()) x.exponent = y.exponent;
  if (y.digits.empty()) y.exponent = x.exponent;
  // Align both to the smaller exponent and to a common length.
  const int e = std::min(x.exponent, y.exponent);
  x.digits.resize(x.digits.size() + (x.exponent - e), 0);
  y.digits.resize(y.digits.size() + (y.exponent - e), 0);
  const std::size_t len = std::max(x.digits.size(), y.digits.size()) + 1;
  x.digits.insert(x.digits.begin(), len - x.digits.size(), 0);
  y.digits.insert(y.digits.begin(), len - y.digits.size(), 0);

  std::vector<int> r(len, 0);
  bool negative;
  if (x.negative == y.negative) {
    int carry = 0;
    for (std::size_t i = len; i-- > 0;) {
      const int s = x.digits[i] + y.digits[i] + carry;
      r[i] = s % 10;
      carry = s / 10;
    }
    negative = x.negative;
  } else {
    const bool swap = lessDigits(x.digits, y.digits);
    const auto& big = swap ? y.digits : x.digits;
    const auto& small = swap ? x.digits : y.digits;
    int borrow = 0;
    for (std::size_t i = len; i-- > 0;) {
      int s = big[i] - small[i] - borrow;
      borrow = s < 0;
      r[i] = s + 10 * borrow;
    }
    negative = swap ? y.negative : x.negative;
  }
  auto first = std::find_if(r.begin(), r.end(), [](int v) { return v != 0; });
  if (first == r.end()) return 0.0;
  std::vector<int> m(first, r.end());
  int exponent = e;

  constexpr std::size_t kMantissaDigits = 38;
  if (m.size() > kMantissaDigits) {
    const std::size_t drop = m.size() - kMantissaDigits;
    const int head = m[kMantissaDigits];
    const bool restNonZero =
        std::any_of(m.begin() + kMantissaDigits + 1, m.end(), [](int v) { return v != 0; });
    m.resize(kMantissaDigits);
    exponent += static_cast<int>(drop);
    const bool up = head > 5 || (head == 5 && (restNonZero || m.back() % 2 == 1));
    if (up) {
      std::size_t i = m.size();
      while (i-- > 0) {
        if (++m[i] < 10) break;
        m[i] = 0;
      }
      if (m.front() == 0) {  // carried out of the top digit: 99..9 + 1
        m.insert(m.begin(), 1);
        m.pop_back();
        ++exponent;
      }
    }
  }
  std::string text = negative ? "-" : "";
  for (int v : m) text.push_back(static_cast<char>('0' + v));
  text += 'e' + std::to_string(exponent);
  return std::strtod(text.c_str(), nullptr);
}

namespace {

// A count read as a whole number (truncated towards zero), as a double so that
// no value can overflow an integer type.
double wholeNumber(double x) { return std::trunc(x); }

}  // namespace

// --- JSON ------------------------------------------------------------------

nlohmann::json toJson(const OlsResult& r, bool vectors) {
  nlohmann::json j{{"coeffs", r.coeffs}, {"variance", r.standardErrors}, {"t", r.t}, {"p", r.p},
                   {"N", r.N},           {"r2", r.r2},
                   {"r2adj", r.r2adj},   {"rmse", r.rmse}};
  if (vectors) {
    j["residuals"] = r.residuals;
    if (r.N > 0) j["yhat"] = r.yhat;
  }
  return j;
}

void to_json(nlohmann::json& j, const OlsResult& r) { j = toJson(r, true); }

void to_json(nlohmann::json& j, const LogitResult& r) { j = toJson(r, true); }

nlohmann::json toJson(const LogitResult& r, bool vectors) {
  nlohmann::json j{{"coeffs", r.coeffs},
                     {"variance", r.standardErrors},
                     {"t", r.t},
                     {"p", r.p},
                     {"N", r.N},
                     {"r2adj", r.r2adj},
                     {"LL0", r.LL0},
                     {"LL", r.LL},
                     {"numIter", r.numIter},
                     {"AIC", r.AIC},
                     {"numPerfectPredict", r.numPerfectPredict},
                     {"converged", r.converged}};
  if (vectors) j["residuals"] = r.residuals;
  if (r.N > 0) {
    if (vectors) j["yhat"] = r.yhat;
    j["roc"] = r.roc;
    j["AUC"] = r.AUC;
  }
  return j;
}

void to_json(nlohmann::json& j, const AnovaGroupSummary& r) {
  j = nlohmann::json{{"obs", r.obs}, {"mean", r.mean}, {"sd", r.sd}};
}

void to_json(nlohmann::json& j, const AnovaResult& r) {
  j = nlohmann::json{{"summary", r.summary}, {"F", r.F}, {"p", r.p}};
}

void to_json(nlohmann::json& j, const ChiSquareResult& r) {
  j = nlohmann::json{{"chi", r.chi}, {"df", r.df}, {"p", r.p}};
}

// --- Ordinary least squares ----------------------------------------------

OlsResult RegressionRoutines::ols(std::span<const double> y, const std::vector<std::vector<double>>& design) {
  OlsResult res;
  const std::size_t n = y.size();
  const std::size_t k = design.size();
  if (n == 0) return res;

  // Two copies of the design and of y: the solver overwrites one of each.
  Scratch a(n * k), x(n * k);
  copyDesign(design, n, a.data());
  std::copy_n(a.data(), n * k, x.data());
  // The right-hand side must hold k entries as well when n < k (minimum-norm solution).
  Scratch rhs(std::max(n, k));
  std::copy(y.begin(), y.end(), rhs.data());
  std::fill(rhs.data() + n, rhs.data() + std::max(n, k), 0.0);

  const int m = static_cast<int>(n);
  const int nc = static_cast<int>(k);
  const int nrhs = 1;
  const int lda = std::max(1, m);
  const int ldb = std::max({1, m, nc});
  int info = 0;
  int lwork = -1;
  double workSize = 0;
  dgels_("N", &m, &nc, &nrhs, a.data(), &lda, rhs.data(), &ldb, &workSize, &lwork, &info, 1);
  lwork = std::max(1, static_cast<int>(workSize));
  Scratch work(static_cast<std::size_t>(lwork));
  dgels_("N", &m, &nc, &nrhs, a.data(), &lda, rhs.data(), &ldb, work.data(), &lwork, &info, 1);
  if (info != 0) logLine("regression finished with error, info=" + std::to_string(info));

  res.coeffs.assign(rhs.data(), rhs.data() + k);
  double rss = 0;
  if (n > k) {
    const int rest = static_cast<int>(n - k);
    const int one = 1;
    const double norm = dnrm2_(&rest, rhs.data() + k, &one);
    rss = norm * norm;
  }
  const double dof = static_cast<double>(n) - static_cast<double>(k);
  const double s2 = rss / dof;
  const double s = std::sqrt(s2);

  // se_j = s * ||row j of R^-1||: the square root of s^2 (X'X)^-1_jj, since (X'X)^-1 = R^-1 R^-T.
  // With fewer observations than columns there is no k x k triangular factor; the errors stay NaN.
  res.standardErrors.assign(k, kNaN);
  if (n >= k && k > 0) {
    int tinfo = 0;
    dtrtri_("U", "N", &nc, a.data(), &lda, &tinfo, 1, 1);
    for (std::size_t j = 0; j < k; ++j) {
      const int len = static_cast<int>(k - j);
      res.standardErrors[j] = s * dnrm2_(&len, a.data() + j + j * n, &lda);
    }
    // s² R^-1 R^-T, entry (i, j) the sum over the rows l ≥ max(i, j) of R^-1_il R^-1_jl.
    res.covariance.assign(k * k, 0.0);
    for (std::size_t i = 0; i < k; ++i)
      for (std::size_t j = 0; j <= i; ++j) {
        double v = 0;
        for (std::size_t l = i; l < k; ++l) v += a[i + l * n] * a[j + l * n];
        res.covariance[i * k + j] = res.covariance[j * k + i] = s2 * v;
      }
  }

  const double tdf = std::max(dof, 1.0);
  res.t.resize(k);
  res.p.resize(k);
  for (std::size_t j = 0; j < k; ++j) {
    res.t[j] = res.coeffs[j] / res.standardErrors[j];
    // 2 (1 − tcdf(|t|)) as 2 tcdf(−|t|): the same tail, without 1 − (a number near 1).
    res.p[j] = 2 * Distributions::tcdf(-std::fabs(res.t[j]), tdf);
  }

  res.yhat.assign(n, 0.0);
  if (k > 0) {
    const double alpha = 1, beta = 0;
    const int one = 1;
    dgemv_("N", &m, &nc, &alpha, x.data(), &lda, res.coeffs.data(), &one, &beta, res.yhat.data(), &one, 1);
  }
  res.residuals.resize(n);
  // Observed minus fitted, as every textbook and peer tool defines a residual.
  for (std::size_t i = 0; i < n; ++i) res.residuals[i] = y[i] - res.yhat[i];

  const double nn = static_cast<double>(n);
  const double vary = DescriptiveStatistics::variance(y);
  res.N = static_cast<std::uint32_t>(n);
  res.r2 = 1 - (s2 * dof / nn) / (vary * (nn - 1) / nn);
  res.r2adj = 1 - s2 / vary;
  res.rmse = s;
  return res;
}

// --- Rank of a design ------------------------------------------------------

std::vector<std::size_t> RegressionRoutines::dependentColumns(const std::vector<std::vector<double>>& columns,
                                                              double tolerance) {
  std::vector<std::size_t> dependent;
  if (columns.empty()) return dependent;
  const std::size_t n = columns.front().size();
  const int m = static_cast<int>(n);
  const int one = 1;
  // Columns still in the factorisation, by position; the norms they had before any reflection.
  std::vector<std::size_t> kept(columns.size());
  std::vector<double> norms(columns.size());
  for (std::size_t j = 0; j < columns.size(); ++j) {
    kept[j] = j;
    const int len = static_cast<int>(std::min(n, columns[j].size()));
    norms[j] = len > 0 ? dnrm2_(&len, columns[j].data(), &one) : 0;
  }
  // In Householder QR without pivoting, |R_ii| is the norm of what column i adds to the columns
  // before it. The first negligible one is dropped and the rest factored again: dependencies are
  // rare, and the prefix before it is unchanged, so every dropped column is judged against the
  // independent columns that precede it, exactly as in column-by-column elimination.
  while (!kept.empty()) {
    const std::size_t k = kept.size();
    std::vector<std::vector<double>> design;
    design.reserve(k);
    for (std::size_t j : kept) design.push_back(columns[j]);
    Scratch a(n * k);
    copyDesign(design, n, a.data());
    const int nc = static_cast<int>(k);
    const int lda = std::max(1, m);
    std::vector<double> tau(std::max<std::size_t>(1, std::min(n, k)));
    int info = 0, lwork = -1;
    double workSize = 0;
    if (n > 0) {
      dgeqrf_(&m, &nc, a.data(), &lda, tau.data(), &workSize, &lwork, &info);
      lwork = std::max(1, static_cast<int>(workSize));
      std::vector<double> work(static_cast<std::size_t>(lwork));
      dgeqrf_(&m, &nc, a.data(), &lda, tau.data(), work.data(), &lwork, &info);
    }
    std::size_t first = k;
    for (std::size_t i = 0; i < k; ++i) {
      if (i >= n || std::fabs(a[i + i * n]) <= tolerance * norms[kept[i]]) {
        first = i;
        break;
      }
    }
    if (first == k) break;
    dependent.push_back(kept[first]);
    kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(first));
  }
  std::sort(dependent.begin(), dependent.end());
  return dependent;
}

// --- Logistic regression -------------------------------------------------

LogitResult RegressionRoutines::logit(std::span<const double> y,
                                      const std::vector<std::vector<double>>& design) {
  LogitResult res;
  const std::size_t n = y.size();
  const std::size_t k = design.size();
  if (n == 0) return res;

  constexpr int kMaxIter = 200;
  const int nc = static_cast<int>(k);
  const int ldc = std::max(1, nc);
  const int one = 1;
  const double dOne = 1, dZero = 0;

  // The rows are processed in blocks small enough to stay in cache: each block of the design is
  // copied afresh into one buffer, which serves the linear predictor and X'z and is then scaled
  // in place for the rank-k update, so every iteration reads the design from memory once.
  const std::size_t block =
      std::min(n, std::clamp<std::size_t>(32768 / std::max<std::size_t>(k, 1), 256, 8192));
  Scratch xb(block * k), rowScratch(3 * block);
  double* eta = rowScratch.data();
  double* z = eta + block;
  double* sw = z + block;
  // Fitted probabilities of this and of the previous iteration; the two buffers swap roles.
  Scratch probabilities(2 * n);
  double* cur = probabilities.data();
  double* prev = cur + n;
  std::fill_n(prev, n, -1.0);
  std::vector<double> beta(k, 0.0), xtz(k, 0.0), xwx(k * k, 0.0), c(k * k, 0.0);
  const double tolerance = static_cast<double>(n) * 1e-10;
  const bool binary = std::all_of(y.begin(), y.end(), [](double v) { return v == 0 || v == 1; });

  // Log-likelihood of the fitted probabilities; only that of the first and of the last iteration
  // is reported, so it is not formed in between.
  auto logLikelihood = [&](const double* p) {
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
      // With a 0/1 response one of the two finite logarithms is multiplied by zero, so only the
      // other is computed, chosen without a branch; the sum is the same to the last bit.
      const double yi = y[i];
      if (binary)
        sum += std::log(std::max(yi == 1 ? p[i] : 1 - p[i], 1e-10));
      else
        sum += yi * std::log(std::max(p[i], 1e-10)) + (1 - yi) * std::log(std::max(1 - p[i], 1e-10));
    }
    return sum;
  };

  double ll = 0;
  const double* fit = cur;
  for (int r = 0;; ++r) {
    // One pass over the rows: fitted probabilities and their change, and the pieces of the Newton
    // step X'z and X'WX (z = W eta + y - p), which the last iteration computes but does not use.
    double delta = 0;
    for (std::size_t i0 = 0; i0 < n; i0 += block) {
      const std::size_t len = std::min(block, n - i0);
      const int lm = static_cast<int>(len);
      for (std::size_t j = 0; j < k; ++j) {
        const auto& col = design[j];
        const std::size_t have = col.size() > i0 ? std::min(len, col.size() - i0) : 0;
        std::copy_n(col.data() + i0, have, xb.data() + j * len);
        std::fill(xb.data() + j * len + have, xb.data() + (j + 1) * len, 0.0);
      }
      if (k > 0)
        dgemv_("N", &lm, &nc, &dOne, xb.data(), &lm, beta.data(), &one, &dZero, eta, &one, 1);
      else
        std::fill_n(eta, len, 0.0);
      for (std::size_t t = 0; t < len; ++t) {
        const std::size_t i = i0 + t;
        const double p = 1 / (std::exp(-eta[t]) + 1);
        cur[i] = p;
        const double w = std::max(p * (1 - p), 1e-13);
        z[t] = w * eta[t] + (y[i] - p);
        sw[t] = std::sqrt(w);
        delta += std::fabs(p - prev[i]);
      }
      if (k > 0) {
        const double acc = i0 == 0 ? 0.0 : 1.0;
        dgemv_("T", &lm, &nc, &dOne, xb.data(), &lm, z, &one, &acc, xtz.data(), &one, 1);
        for (std::size_t j = 0; j < k; ++j) {
          double* col = xb.data() + j * len;
          for (std::size_t t = 0; t < len; ++t) col[t] *= sw[t];
        }
        dsyrk_("U", "T", &nc, &lm, &dOne, xb.data(), &lm, &acc, xwx.data(), &ldc, 1, 1);
      }
    }
    const bool done = delta < tolerance;
    if (done || r + 1 >= kMaxIter) ll = logLikelihood(cur);
    if (done) {
      logLine("logit converged in iteration " + std::to_string(r));
      res.converged = true;
      res.numIter = r;
      fit = cur;
      break;
    }
    std::swap(cur, prev);

    // Newton step as weighted least squares: beta = (X'WX)^-1 X'z, the inverse by Cholesky.
    if (k > 0) {
      c = xwx;
      int info = 0;
      dpotrf_("U", &nc, c.data(), &ldc, &info, 1);
      dpotri_("U", &nc, c.data(), &ldc, &info, 1);
      dsymv_("U", &nc, &dOne, c.data(), &ldc, xtz.data(), &one, &dZero, beta.data(), &one, 1);
    }
    if (r + 1 >= kMaxIter) {
      logLine("logit did not converge");
      res.converged = false;
      res.numIter = kMaxIter;
      fit = prev;  // this iteration's probabilities, after the swap
      break;
    }
  }
  std::vector<double> phat(fit, fit + n);

  res.coeffs = beta;
  res.standardErrors.resize(k);
  res.t.resize(k);
  res.p.resize(k);
  // dpotri leaves the inverse in the upper triangle.
  res.covariance.assign(k * k, 0.0);
  for (std::size_t i = 0; i < k; ++i)
    for (std::size_t j = i; j < k; ++j) res.covariance[i * k + j] = res.covariance[j * k + i] = c[i + j * k];
  for (std::size_t j = 0; j < k; ++j) {
    res.standardErrors[j] = std::sqrt(c[j + j * k]);
    res.t[j] = res.coeffs[j] / res.standardErrors[j];
    // 2 (1 − Φ(|z|)) as 2 Φ(−|z|), so that small p-values are not rounded to 0.
    res.p[j] = 2 * Distributions::normcdfz(-std::fabs(res.t[j]));
  }
  res.N = static_cast<std::uint32_t>(n);
  res.LL = ll;
  // McFadden's null model is the intercept-only fit, whose probability is the share of ones:
  // LL0 = n1 ln p̄ + n0 ln(1 − p̄) (for a fractional response, Σ y ln p̄ + (1 − y) ln(1 − p̄)).
  {
    CompensatedSum ones;
    for (double v : y) ones.add(v);
    const double n1 = ones.value(), n0 = static_cast<double>(n) - n1, pbar = n1 / static_cast<double>(n);
    res.LL0 = (n1 > 0 ? n1 * std::log(pbar) : 0) + (n0 > 0 ? n0 * std::log1p(-pbar) : 0);
  }
  res.r2adj = 1 - ll / res.LL0;
  res.AIC = -2 * ll + 2 * static_cast<double>(k);
  res.residuals.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    res.residuals[i] = y[i] - phat[i];
    if (phat[i] == 0.0 || phat[i] == 1.0) ++res.numPerfectPredict;
  }

  // ROC over 100 thresholds t / 99: bin t counts the observations with t <= 99 p.
  // Each observation is counted once at bin floor(99 p); suffix sums then give
  // every bin the observations at or above it.
  constexpr int kBins = 100;
  std::array<double, kBins> pos{}, neg{};
  for (std::size_t i = 0; i < n; ++i) {
    const double top = 99 * phat[i];
    if (!(top >= 0)) continue;  // NaN: no threshold admits it
    const int b = static_cast<int>(std::min(99.0, std::floor(top)));
    (y[i] == 1 ? pos : neg)[b] += 1;
  }
  for (int t = kBins - 2; t >= 0; --t) {
    pos[t] += pos[t + 1];
    neg[t] += neg[t + 1];
  }
  const double allPos = pos[0];
  const double allNeg = static_cast<double>(n) - allPos;
  double prevPos = -1, prevNeg = -1;
  double prevTpr = -1, prevFpr = -1;
  bool havePrev = false;
  double area = 0;
  for (int t = 0; t < kBins; ++t) {
    if (pos[t] == prevPos && neg[t] == prevNeg) continue;
    const double tpr = pos[t] / allPos;
    const double fpr = neg[t] / allNeg;
    if (havePrev)
      area += std::fabs(fpr - prevFpr) * (std::min(tpr, prevTpr) + 0.5 * std::fabs(tpr - prevTpr));
    res.roc.push_back({tpr, fpr});
    prevPos = pos[t];
    prevNeg = neg[t];
    prevTpr = tpr;
    prevFpr = fpr;
    havePrev = true;
  }
  res.AUC = area;
  res.yhat = std::move(phat);
  return res;
}

// --- Analysis of variance ------------------------------------------------

AnovaResult RegressionRoutines::anova(const std::vector<std::vector<double>>& groups, bool isBinary) {
  AnovaResult res;
  res.summary.reserve(groups.size());
  // Every sum is taken on the values less one common shift, the first value of the first group
  // that has any: values with many common leading digits then keep their differences, and the
  // group and grand means are exact shifts of accurate small means (the grand mean of the raw
  // group means would round at the magnitude of the values).
  double shift = 0;
  for (const auto& g : groups)
    if (!g.empty()) {
      shift = g.front();
      break;
    }
  double groupCount = 0, total = 0, ssw = 0;
  CompensatedSum weighted;
  std::vector<double> shiftedMeans(groups.size(), 0.0);
  for (std::size_t i = 0; i < groups.size(); ++i) {
    const auto& g = groups[i];
    AnovaGroupSummary s;
    s.obs = static_cast<std::uint32_t>(g.size());
    if (g.empty()) {
      s.mean = kNaN;
      s.sd = kNaN;
      res.summary.push_back(s);
      continue;
    }
    const double n = static_cast<double>(g.size());
    CompensatedSum sum;
    for (double v : g) sum.add(v - shift);
    const double m = sum.value() / n;
    // Σ (x − m)², corrected by the deviations' own sum (their rounding).
    CompensatedSum dev, squares;
    for (double v : g) {
      const double d = (v - shift) - m;
      dev.add(d);
      squares.add(d * d);
    }
    const double e = dev.value();
    const double ss = std::max(0.0, squares.value() - e * e / n);
    shiftedMeans[i] = m;
    s.mean = shift + m;
    if (isBinary)
      s.sd = DescriptiveStatistics::sdBinomial(s.mean);
    else
      s.sd = g.size() > 1 ? std::sqrt(ss / (n - 1)) : kNaN;
    // A single observation adds nothing to the within-group sum of squares.
    ssw += isBinary ? (g.size() > 1 ? s.sd * s.sd * (n - 1) : 0) : ss;
    groupCount += 1;
    total += n;
    weighted.add(m * n);
    res.summary.push_back(s);
  }
  const double grand = weighted.value() / total;
  CompensatedSum ssb;
  for (std::size_t i = 0; i < groups.size(); ++i) {
    if (groups[i].empty()) continue;
    const double d = shiftedMeans[i] - grand;
    ssb.add(static_cast<double>(groups[i].size()) * (d * d));
  }
  const double df1 = groupCount - 1, df2 = total - groupCount;
  // Without a within-group degree of freedom there is no error variance to compare with.
  if (!(df2 >= 1) || !(df1 >= 1)) {
    res.F = kNaN;
    res.p = kNaN;
    return res;
  }
  res.F = (ssb.value() / df1) / (ssw / df2);
  res.p = Distributions::fcdf(res.F, df1, df2);
  return res;
}

// --- Frequency tables ----------------------------------------------------

ChiSquareResult RegressionRoutines::chiForFrequencyMatrix(const std::vector<std::vector<double>>& matrix) {
  const std::size_t cols = matrix.empty() ? 0 : matrix.back().size();
  std::vector<double> rowTotals(matrix.size(), 0.0), colTotals(cols, 0.0);
  for (std::size_t i = 0; i < matrix.size(); ++i) {
    for (std::size_t j = 0; j < matrix[i].size(); ++j) {
      const double v = wholeNumber(matrix[i][j]);
      rowTotals[i] += v;
      if (j < cols) colTotals[j] += v;
    }
  }
  return chiForFrequencyMatrix(matrix, rowTotals, colTotals);
}

ChiSquareResult RegressionRoutines::chiForFrequencyMatrix(const std::vector<std::vector<double>>& matrix,
                                                          std::span<const double> rowTotals,
                                                          std::span<const double> colTotals) {
  double total = 0;
  for (double v : rowTotals) total += wholeNumber(v);
  double chi = 0;
  const std::size_t rows = std::min(matrix.size(), rowTotals.size());
  for (std::size_t i = 0; i < rows; ++i) {
    const std::size_t cols = std::min(matrix[i].size(), colTotals.size());
    for (std::size_t j = 0; j < cols; ++j) {
      const double e = rowTotals[i] * colTotals[j] / total;
      const double d = matrix[i][j] - e;
      chi += d * d / e;
    }
  }
  ChiSquareResult res;
  res.chi = chi;
  res.df = (static_cast<int>(rowTotals.size()) - 1) * (static_cast<int>(colTotals.size()) - 1);
  res.p = Distributions::chicdf(chi, res.df);
  return res;
}

double RegressionRoutines::cramersVForChi(double chi, double obs, double rows, double cols) {
  return std::sqrt(chi / (obs * (std::min(rows, cols) - 1)));
}

double RegressionRoutines::phiForFrequencyMatrix(const std::vector<std::vector<double>>& matrix) {
  if (matrix.size() != 2 || matrix[0].size() != 2 || matrix[1].size() != 2) return kNaN;
  const double a = matrix[0][0], b = matrix[0][1], c = matrix[1][0], d = matrix[1][1];
  return (a * d - b * c) / std::sqrt((b + d) * (a + c) * (a + b) * (c + d));
}

}  // namespace tabulix
