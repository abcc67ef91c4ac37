// The installed app's service worker: keeps the application shell (the
// page, its scripts and styles, the manifest, icons and glossary pictures)
// so that the app opens without its server and can say the server is not
// reachable. API answers, workspaces and exports are never kept: they go to
// the network only.
const SHELL = "tabulix-shell-v1";
const shellFiles = ["/", "/manifest.webmanifest", "/icons/icon.svg", "/icons/icon-192.png", "/icons/icon-512.png"];

// What the shell is made of; everything else (the API, the share target,
// downloads) is left to the network.
function isShell(url) {
  if (url.origin !== self.location.origin) return false;
  const p = url.pathname;
  return (
    p === "/" ||
    p === "/index.html" ||
    p === "/manifest.webmanifest" ||
    p.startsWith("/assets/") ||
    p.startsWith("/icons/") ||
    p.startsWith("/glossary/")
  );
}

// The page names its hashed scripts and styles; they are kept with it.
async function keepShell(cache) {
  const page = await fetch("/", { credentials: "same-origin", cache: "no-cache" });
  if (!page.ok) return;
  const html = await page.clone().text();
  await cache.put("/", page);
  const assets = [...html.matchAll(/(?:src|href)="(\/assets\/[^"]+)"/g)].map((m) => m[1]);
  await cache.addAll([...new Set([...shellFiles.slice(1), ...assets])]);
}

self.addEventListener("install", (event) => {
  event.waitUntil(
    caches
      .open(SHELL)
      .then(keepShell)
      .catch(() => {})
      .then(() => self.skipWaiting()),
  );
});

self.addEventListener("activate", (event) => {
  event.waitUntil(
    caches
      .keys()
      .then((names) => Promise.all(names.filter((n) => n !== SHELL).map((n) => caches.delete(n))))
      .then(() => self.clients.claim()),
  );
});

self.addEventListener("fetch", (event) => {
  const request = event.request;
  if (request.method !== "GET") return;
  const url = new URL(request.url);
  // A page address of the single-page app (#/browse is not sent) is the page.
  const page = request.mode === "navigate" && url.origin === self.location.origin && !url.pathname.startsWith("/api/");
  if (!page && !isShell(url)) return;
  if (page || url.pathname === "/" || url.pathname === "/index.html" || url.pathname === "/manifest.webmanifest") {
    // The page comes from the server while it runs (a new build shows at
    // once), from the cache when it does not answer.
    event.respondWith(
      fetch(request)
        .then((res) => {
          if (res.ok && res.headers.get("Content-Type")?.startsWith("text/html")) {
            const copy = res.clone();
            // A new build's assets are kept as the page asks for them.
            void caches.open(SHELL).then((c) => c.put("/", copy));
          }
          return res;
        })
        .catch(async () => (await caches.match(page ? "/" : request)) ?? Response.error()),
    );
    return;
  }
  // Hashed assets and icons never change under their names.
  event.respondWith(
    caches.match(request).then(
      (hit) =>
        hit ??
        fetch(request).then((res) => {
          if (res.ok) {
            const copy = res.clone();
            void caches.open(SHELL).then((c) => c.put(request, copy));
          }
          return res;
        }),
    ),
  );
});
