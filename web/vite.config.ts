import { defineConfig } from "vite";

// The UI is served by `tabulix serve`; during development `npm run dev`
// forwards the API to a server started on the default port.
export default defineConfig({
  esbuild: { jsx: "automatic", jsxImportSource: "preact" },
  build: {
    outDir: "dist",
    emptyOutDir: true,
    target: "es2020",
    sourcemap: false,
  },
  server: {
    proxy: { "/api": "http://127.0.0.1:8765", "/share-target": "http://127.0.0.1:8765" },
  },
  // Pure helpers run in node; component tests ask for a DOM with a
  // `// @vitest-environment happy-dom` first line (see test/README.md).
  test: {
    include: ["test/**/*.test.{ts,tsx}"],
    environment: "node",
  },
} as any);
