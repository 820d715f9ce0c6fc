// The Python module `ruvanta`: ruvanta.restore on numpy arrays, through the C++
// interface (include/ruvanta/ruvanta.h). The arrays are checked and copied into
// contiguous bytes with the interpreter lock held; the run itself goes without it,
// taking it back only after each block to pass on Ctrl-C and the progress callback.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "ruvanta/ruvanta.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace {

constexpr const char* kOptionNames[] = {"iterations", "diffusion", "per_diffusion", "delta_t",
                                        "automatic",  "threshold", "settle",        "tension",
                                        "threads",    "progress"};

[[noreturn]] void Refuse(const std::string& message) { throw py::value_error(message); }

std::string Repr(const py::handle& value) { return py::repr(value).cast<std::string>(); }

std::string ShapeText(const py::array& a) {
  std::string s = "(";
  for (py::ssize_t i = 0; i < a.ndim(); ++i) s += (i ? ", " : "") + std::to_string(a.shape(i));
  return s + (a.ndim() == 1 ? ",)" : ")");
}

std::string DtypeText(const py::array& a) { return py::str(a.dtype()).cast<std::string>(); }

py::array AsArray(const py::handle& value, const char* name) {
  if (!py::isinstance<py::array>(value))
    Refuse(std::string(name) + " must be a numpy array, not " +
           py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>());
  return py::reinterpret_borrow<py::array>(value);
}

// An H x W x 3 uint8 picture, as contiguous rows.
py::array_t<std::uint8_t, py::array::c_style> Picture(const py::handle& value, const char* name) {
  const py::array a = AsArray(value, name);
  if (a.ndim() != 3 || a.shape(2) != 3)
    Refuse(std::string(name) + " must be an H x W x 3 array, not of shape " + ShapeText(a));
  if (!a.dtype().is(py::dtype::of<std::uint8_t>()))
    Refuse(std::string(name) + " must be of dtype uint8, not " + DtypeText(a));
  return py::array_t<std::uint8_t, py::array::c_style>::ensure(a);
}

int Side(const py::array& a, int axis, const char* name) {
  if (a.shape(axis) > std::numeric_limits<int>::max())
    Refuse(std::string(name) + " of shape " + ShapeText(a) + " is too large");
  return int(a.shape(axis));
}

// The mask as a byte a pixel, 1 where it is not zero (in any channel of an H x W x 3
// mask).
py::array_t<std::uint8_t, py::array::c_style> MaskBytes(const py::handle& value,
                                                        const py::array& image) {
  const py::array a = AsArray(value, "mask");
  const char kind = a.dtype().kind();
  if (kind != 'b' && kind != 'i' && kind != 'u')
    Refuse("mask must be of a bool or integer dtype, not " + DtypeText(a));
  if (!(a.ndim() == 2 || (a.ndim() == 3 && a.shape(2) == 3)))
    Refuse("mask must be an H x W or H x W x 3 array, not of shape " + ShapeText(a));
  if (a.shape(0) != image.shape(0) || a.shape(1) != image.shape(1))
    Refuse("mask has shape " + ShapeText(a) + " but image has shape " + ShapeText(image));
  py::object marked = a.attr("__ne__")(0);
  if (a.ndim() == 3) marked = marked.attr("any")("axis"_a = 2);
  return py::array_t<std::uint8_t, py::array::c_style>::ensure(marked.attr("astype")("uint8"));
}

int IntOption(const char* name, const py::handle& value) {
  if (py::isinstance<py::bool_>(value) || !PyIndex_Check(value.ptr()))
    Refuse(std::string(name) + " must be a whole number, not " + Repr(value));
  const py::int_ v = py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
  int overflow = 0;
  const long long n = PyLong_AsLongLongAndOverflow(v.ptr(), &overflow);
  if (overflow != 0 || n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
    Refuse(std::string(name) + " must be a whole number from 0 to 2147483647, not " + Repr(value));
  return int(n);
}

double FloatOption(const char* name, const py::handle& value) {
  if (py::isinstance<py::bool_>(value) || py::isinstance<py::str>(value) ||
      !(PyFloat_Check(value.ptr()) || PyIndex_Check(value.ptr()) ||
        py::hasattr(value, "__float__")))
    Refuse(std::string(name) + " must be a number, not " + Repr(value));
  return value.cast<double>();
}

bool BoolOption(const char* name, const py::handle& value) {
  if (!py::isinstance<py::bool_>(value) &&
      !py::isinstance(value, py::module_::import("numpy").attr("bool_")))
    Refuse(std::string(name) + " must be True or False, not " + Repr(value));
  return PyObject_IsTrue(value.ptr()) == 1;
}

// What restore returns.
struct PyResult {
  py::array image;
  std::uint32_t mask_pixels = 0;
  float psnr_damaged = 0, psnr_result = 0, seconds = 0;
  std::uint32_t iterations = 0;
  bool stopped = false, settled = false;
  py::object psnr_hole_damaged = py::none(), psnr_hole_result = py::none();
  py::object ssim_damaged = py::none(), ssim_result = py::none();
  py::object ssim_box_damaged = py::none(), ssim_box_result = py::none();
  py::object mask_box = py::none();
  py::object estimated_psnr = py::none();
  std::string method;
  py::list chosen;
};

// The run's reports, taken on the running thread: with the lock back, a pending
// Ctrl-C (or an exception of the callback) stops the run and is raised afterwards.
struct Reporter {
  py::object callback;
  py::object error;  // the Python exception to raise, once one happened
  bool operator()(const ruvanta::Progress& p) {
    py::gil_scoped_acquire hold;
    if (!error.is_none()) return false;
    if (PyErr_CheckSignals() != 0) {
      error = Fetch();
      return false;
    }
    if (callback.is_none()) return true;
    try {
      py::dict d;
      d["automatic"] = p.automatic;
      d["iterations_done"] = p.iterations_done;
      d["iterations_planned"] = p.iterations_planned;
      d["cycle"] = p.cycle;
      d["measured"] = p.measured;
      d["psnr"] = p.psnr;
      d["settling"] = p.settling;
      d["mean_change"] = p.mean_change;
      const py::object answer = callback(d);
      return answer.is_none() || py::bool_(answer);
    } catch (py::error_already_set& e) {
      error = e.value();
      return false;
    }
  }
  static py::object Fetch() {
    PyObject *type = nullptr, *value = nullptr, *trace = nullptr;
    PyErr_Fetch(&type, &value, &trace);
    PyErr_NormalizeException(&type, &value, &trace);
    if (trace) PyException_SetTraceback(value, trace);
    Py_XDECREF(type);
    Py_XDECREF(trace);
    return py::reinterpret_steal<py::object>(value);
  }
};

PyResult Restore(const py::object& image, const py::object& mask, const std::string& method,
                 const py::object& original, const py::kwargs& options) {
  ruvanta::Options o;
  if (!ruvanta::ParseMethod(method, &o.method))
    Refuse("method must be transport, membrane, biharmonic, tension, texture or auto, not '" +
           method + "'");
  Reporter reporter;
  reporter.callback = py::none();
  reporter.error = py::none();
  for (const auto& item : options) {
    const std::string name = item.first.cast<std::string>();
    const py::handle v = item.second;
    if (name == "iterations") {
      o.iterations = IntOption("iterations", v);
    } else if (name == "diffusion") {
      o.diffusion = IntOption("diffusion", v);
    } else if (name == "per_diffusion") {
      o.per_diffusion = IntOption("per_diffusion", v);
    } else if (name == "delta_t") {
      o.delta_t = FloatOption("delta_t", v);
    } else if (name == "automatic") {
      o.automatic = BoolOption("automatic", v);
    } else if (name == "threshold") {
      o.threshold = FloatOption("threshold", v);
    } else if (name == "settle") {
      if (!v.is_none()) {
        o.settle = FloatOption("settle", v);
        if (!(o.settle >= 0)) Refuse("settle must be a finite number from 0, not " + Repr(v));
      }
    } else if (name == "tension") {
      o.tension = FloatOption("tension", v);
    } else if (name == "threads") {
      o.threads = IntOption("threads", v);
    } else if (name == "progress") {
      if (!v.is_none() && !PyCallable_Check(v.ptr()))
        Refuse("progress must be callable, not " + Repr(v));
      reporter.callback = py::reinterpret_borrow<py::object>(v);
    } else {
      std::string known;
      for (const char* n : kOptionNames) known += std::string(known.empty() ? "" : ", ") + n;
      Refuse("unknown option '" + name + "' (the options are " + known + ")");
    }
  }

  const auto damaged = Picture(image, "image");
  const auto cells = MaskBytes(mask, damaged);
  py::array_t<std::uint8_t, py::array::c_style> undamaged;
  if (!original.is_none()) {
    undamaged = Picture(original, "original");
    if (undamaged.shape(0) != damaged.shape(0) || undamaged.shape(1) != damaged.shape(1))
      Refuse("original has shape " + ShapeText(undamaged) + " but image has shape " +
             ShapeText(damaged));
  }
  const int h = Side(damaged, 0, "image"), w = Side(damaged, 1, "image");
  const ruvanta::Image in{w, h, damaged.data(), 0};
  const ruvanta::Mask marks{w, h, cells.data(), 0};
  const ruvanta::Image reference{w, h, original.is_none() ? nullptr : undamaged.data(), 0};

  ruvanta::Result r;
  {
    py::gil_scoped_release free;
    r = ruvanta::Restore(in, marks, o, original.is_none() ? nullptr : &reference,
                         [&reporter](const ruvanta::Progress& p) { return reporter(p); });
  }
  if (!reporter.error.is_none()) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(reporter.error.ptr())),
                    reporter.error.ptr());
    throw py::error_already_set();
  }
  if (!r.ok()) {
    switch (r.error.code) {
      case ruvanta::ErrorCode::kOutOfMemory:
        PyErr_SetString(PyExc_MemoryError, r.error.message.c_str());
        throw py::error_already_set();
      case ruvanta::ErrorCode::kRunFailed:
        throw std::runtime_error(r.error.message);
      default:
        Refuse(r.error.message);
    }
  }

  PyResult out;
  auto* pixels = new std::vector<std::uint8_t>(std::move(r.pixels));
  const py::capsule owner(pixels, [](void* p) { delete static_cast<std::vector<std::uint8_t>*>(p); });
  out.image = py::array_t<std::uint8_t>({py::ssize_t(h), py::ssize_t(w), py::ssize_t(3)},
                                        pixels->data(), owner);
  out.mask_pixels = r.mask_pixels;
  out.psnr_damaged = r.psnr_damaged;
  out.psnr_result = r.psnr_result;
  out.iterations = r.iterations;
  out.seconds = r.seconds;
  out.stopped = r.stopped;
  out.settled = r.settled;
  out.method = ruvanta::MethodName(o.method);
  if (r.has_quality) {
    const ruvanta::Quality& q = r.quality;
    out.psnr_hole_damaged = py::float_(q.psnr_hole_damaged);
    out.psnr_hole_result = py::float_(q.psnr_hole_result);
    out.ssim_damaged = py::float_(q.ssim_damaged);
    out.ssim_result = py::float_(q.ssim_result);
    out.ssim_box_damaged = py::float_(q.ssim_box_damaged);
    out.ssim_box_result = py::float_(q.ssim_box_result);
    if (q.has_box) out.mask_box = py::make_tuple(q.box_x0, q.box_y0, q.box_x1, q.box_y1);
  }
  if (o.method == ruvanta::Method::kAuto) out.estimated_psnr = py::float_(r.estimated_psnr);
  for (const std::string& c : r.chosen) out.chosen.append(c);
  return out;
}

}  // namespace

PYBIND11_MODULE(ruvanta, m) {
  m.doc() =
      "Restores the damaged regions of colour photographs held in numpy arrays.\n\n"
      "    import numpy, ruvanta\n"
      "    r = ruvanta.restore(image, mask)          # image H x W x 3 uint8, mask H x W\n"
      "    print(r.psnr_result, r.iterations); restored = r.image\n\n"
      "The results are the bytes and figures of ruvanta-cli for the same pictures and\n"
      "settings.";
  m.attr("__version__") = ruvanta::Version();

  py::class_<PyResult>(m, "Result",
                       "What restore returns: the restored picture and the run's figures.")
      .def_readonly("image", &PyResult::image,
                    "The restored picture, H x W x 3 uint8 (the unmasked pixels unchanged).")
      .def_readonly("method", &PyResult::method, "The method that ran.")
      .def_readonly("mask_pixels", &PyResult::mask_pixels, "Pixels the mask marks.")
      .def_readonly("psnr_damaged", &PyResult::psnr_damaged,
                    "PSNR of the damaged picture against the original (against black without "
                    "one), single precision, as ruvanta-cli prints it.")
      .def_readonly("psnr_result", &PyResult::psnr_result,
                    "PSNR of the result, as psnr_damaged.")
      .def_readonly("iterations", &PyResult::iterations,
                    "Transport iterations run (or the solver's iterations of a fill).")
      .def_readonly("seconds", &PyResult::seconds, "Run time in seconds.")
      .def_readonly("stopped", &PyResult::stopped,
                    "The progress callback stopped the run early.")
      .def_readonly("settled", &PyResult::settled,
                    "The automatic mode without an original ended by settling.")
      .def_readonly("psnr_hole_damaged", &PyResult::psnr_hole_damaged,
                    "PSNR over the masked pixels of the damaged picture; None without an "
                    "original.")
      .def_readonly("psnr_hole_result", &PyResult::psnr_hole_result,
                    "PSNR over the masked pixels of the result; None without an original.")
      .def_readonly("ssim_damaged", &PyResult::ssim_damaged,
                    "Mean SSIM of the damaged picture; None without an original.")
      .def_readonly("ssim_result", &PyResult::ssim_result,
                    "Mean SSIM of the result; None without an original.")
      .def_readonly("ssim_box_damaged", &PyResult::ssim_box_damaged,
                    "SSIM over the windows centred in the mask's bounding box; None without "
                    "an original.")
      .def_readonly("ssim_box_result", &PyResult::ssim_box_result,
                    "As ssim_box_damaged, of the result.")
      .def_readonly("mask_box", &PyResult::mask_box,
                    "The mask's bounding box (x0, y0, x1, y1), x0 <= x < x1; None without an "
                    "original or for an empty mask.")
      .def_readonly("estimated_psnr", &PyResult::estimated_psnr,
                    "method='auto': the held-out estimate of the restored pixels' PSNR; "
                    "otherwise None.")
      .def_readonly("chosen", &PyResult::chosen,
                    "method='auto': the fill chosen for each region of the mask.")
      .def("__repr__", [](const PyResult& r) {
        return "<ruvanta.Result " + r.method + " " + std::to_string(r.image.shape(1)) + " x " +
               std::to_string(r.image.shape(0)) + ", psnr_result " +
               py::repr(py::float_(r.psnr_result)).cast<std::string>() + ", iterations " +
               std::to_string(r.iterations) + ">";
      });

  m.def("restore", &Restore, "image"_a, "mask"_a, "method"_a = "transport",
        "original"_a = py::none(),
        R"(restore(image, mask, method="transport", original=None, **options) -> Result

Restores the pixels of `image` that `mask` marks.

image     numpy array H x W x 3 of uint8 (red, green, blue), rows from the top.
mask      H x W array of bool or any integer type, non-zero for a pixel to
          restore; or H x W x 3, where a pixel with any channel non-zero counts.
method    "transport" (the transport scheme with diffusion), "membrane",
          "biharmonic", "tension", "texture" or "auto" (per region the fill that
          restores held-out known pixels best).
original  the undamaged picture (as image), only to measure: the PSNR values and
          the quality measures of the result are taken against it.

Options (the defaults are ruvanta-cli's):
  iterations=100, diffusion=2, per_diffusion=15, delta_t=0.01
            the transport scheme's sweeps, diffusion iterations per block,
            sweeps per block and time step (kept in single precision).
  automatic=False, threshold=0.0
            the automatic mode: with an original, cycles while the PSNR rises
            by more than threshold.
  settle=None
            the automatic mode without an original stops when the masked
            values change by at most this much over a cycle (default 0.5).
  tension=0.5
            method="tension": the thin-plate fill's tension (>= 0).
  threads=0
            1 or more threads (0: the machine's default, all its cores); the
            same bytes with any.
  progress=None
            called with a dict after each block and cycle (iterations_done,
            cycle, psnr, ...); returning False stops the run early.

The interpreter lock is released while the run works; Ctrl-C stops it. Bad
shapes, dtypes, sizes, values and unknown options raise ValueError naming them.)");
}
