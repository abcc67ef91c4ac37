// Calls to the server's JSON API and the progress streams of its jobs.

export interface Alert {
  title: string;
  message: string;
  buttons: string[];
}

export interface Status {
  workspace: string | null;
  statusLine: string;
  statusLineTablet: string;
  generation: number;
  initialEdit: boolean;
  decimalSeparator?: string;
  // The language the server wrote this page's numbers and dates in (a BCP 47 tag).
  locale?: string;
  // The steps Undo and Redo would take back and bring back.
  history?: { undo: string | null; redo: string | null };
}

// A refused or failed request: the HTTP status, the server's error code and,
// when the server wants one shown, its alert.
export class ApiError extends Error {
  constructor(
    public status: number,
    public code: string,
    public alert?: Alert,
    public body?: any,
  ) {
    super(code);
  }
}

// Alerts raised by the server while it handled a request (a store failure
// shows "Error!") go to whoever listens here.
let alertSink: (a: Alert) => void = () => {};
export function onServerAlert(sink: (a: Alert) => void): void {
  alertSink = sink;
}

// Headers the shell adds to every request (the width its charts are drawn at).
export const shellHeaders: Record<string, string> = {};

async function request<T>(method: string, path: string, body?: unknown, raw?: Blob | File): Promise<T> {
  const headers: Record<string, string> = { ...shellHeaders };
  let payload: BodyInit | undefined;
  if (method !== "GET") headers["X-Tabulix-Request"] = "1";
  if (raw) {
    payload = raw;
    headers["Content-Type"] = "application/octet-stream";
  } else if (body !== undefined) {
    payload = JSON.stringify(body);
    headers["Content-Type"] = "application/json";
  }
  let res: Response;
  try {
    res = await fetch(path, { method, headers, body: payload, credentials: "same-origin" });
  } catch {
    throw new ApiError(0, "network");
  }
  let json: any = null;
  try {
    json = await res.json();
  } catch {
    json = null;
  }
  if (json && Array.isArray(json.alerts)) for (const a of json.alerts) alertSink(a);
  if (!res.ok) throw new ApiError(res.status, json?.error ?? String(res.status), json?.alert, json);
  return json as T;
}

// Sends a file's bytes, telling `onProgress` the fraction sent (0..1) as it
// goes: XMLHttpRequest, since fetch reports no upload progress.
function uploadWithProgress<T>(path: string, file: Blob | File, onProgress: (fraction: number) => void): Promise<T> {
  return new Promise<T>((resolve, reject) => {
    const xhr = new XMLHttpRequest();
    xhr.open("POST", path);
    for (const [k, v] of Object.entries(shellHeaders)) xhr.setRequestHeader(k, v);
    xhr.setRequestHeader("X-Tabulix-Request", "1");
    xhr.setRequestHeader("Content-Type", "application/octet-stream");
    xhr.upload.onprogress = (e) => {
      if (e.lengthComputable && e.total > 0) onProgress(Math.min(1, e.loaded / e.total));
    };
    xhr.onerror = () => reject(new ApiError(0, "network"));
    xhr.onload = () => {
      let json: any = null;
      try {
        json = JSON.parse(xhr.responseText);
      } catch {
        json = null;
      }
      if (json && Array.isArray(json.alerts)) for (const a of json.alerts) alertSink(a);
      if (xhr.status < 200 || xhr.status >= 300)
        reject(new ApiError(xhr.status, json?.error ?? String(xhr.status), json?.alert, json));
      else resolve(json as T);
    };
    xhr.send(file);
  });
}

export const api = {
  get: <T>(path: string) => request<T>("GET", path),
  post: <T>(path: string, body: unknown = {}) => request<T>("POST", path, body),
  del: <T>(path: string) => request<T>("DELETE", path),
  upload: <T>(path: string, file: Blob | File, onProgress?: (fraction: number) => void) =>
    onProgress ? uploadWithProgress<T>(path, file, onProgress) : request<T>("POST", path, undefined, file),
};

export interface JobHandlers {
  onEvent: (event: any) => void;
  onEnd: (result: any) => void;
}

// Follows a job's progress: Server-Sent Events where the browser has them,
// polling otherwise (or when the stream cannot be kept open). Returns a
// function that stops following.
export function followJob(id: string, handlers: JobHandlers): () => void {
  let stopped = false;
  let seen = 0;
  let es: EventSource | null = null;
  const url = `/api/jobs/${encodeURIComponent(id)}`;
  const end = (result: any) => {
    if (stopped) return;
    stopped = true;
    es?.close();
    // A job's alerts (a store failure's "Error!") go to the page that asked for it.
    if (result && Array.isArray(result.alerts)) for (const a of result.alerts) alertSink(a);
    handlers.onEnd(result);
  };
  const poll = async () => {
    while (!stopped) {
      try {
        const job = await api.get<any>(url);
        for (; seen < job.events.length; seen++) handlers.onEvent(job.events[seen]);
        if (job.finished) return end(job.result);
      } catch (e) {
        if (e instanceof ApiError && e.status === 404) return end({ error: "gone" });
      }
      await new Promise((r) => setTimeout(r, 400));
    }
  };
  if (typeof EventSource === "undefined") {
    void poll();
  } else {
    es = new EventSource(`${url}/events`);
    es.addEventListener("progress", (e) => {
      seen++;
      handlers.onEvent(JSON.parse((e as MessageEvent).data));
    });
    es.addEventListener("end", (e) => end(JSON.parse((e as MessageEvent).data)));
    es.onerror = () => {
      // The browser reconnects by itself and resumes after the last event;
      // when it gives up, polling takes over from the events already seen.
      if (es && es.readyState === EventSource.CLOSED && !stopped) void poll();
    };
  }
  return () => {
    stopped = true;
    es?.close();
  };
}
